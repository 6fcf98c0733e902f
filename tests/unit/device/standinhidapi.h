#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A stand-in for the hidapi library, linked into a test in its place, that
// behaves as hidapi-hidraw 0.13 does where it matters to us: enumeration
// lists an interface once per usage, a missing serial number is an empty
// string, and with no error recorded hid_error says "Success".
namespace StandInHidapi {

struct Device
{
    QByteArray path;
    quint16 vendorId = 0x2E3C;
    quint16 productId = 0x0A12;
    QString serial;            // empty: none, as hidraw reports it
    int usages = 1;            // entries the enumeration lists for it
    QList<QByteArray> replies; // one per read; none left: the read times out
    bool readFails = false;    // a read error that records no error text
};

void setDevices(const QList<Device>& devices);
// Reports written to the path so far.
QList<QByteArray> written(const QByteArray& path);
// Devices opened and not closed.
int openDevices();

} // namespace StandInHidapi
