#include "devicesimulator.h"

#include <cstdio>

DeviceSimulator::DeviceSimulator(const QList<SimulatedDevice>& devices, QObject* parent) : QObject(parent)
{
    for (const SimulatedDevice& device : devices)
        m_devices.insert(device.name, device);
}

void DeviceSimulator::printOut(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void DeviceSimulator::printErr(const QString& line)
{
    const QByteArray bytes = "varnoks-devsim: " + line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QStringList DeviceSimulator::deviceNames() const
{
    return m_devices.keys();
}

const SimulatedDevice& DeviceSimulator::device(const QString& name) const
{
    const auto it = m_devices.constFind(name);
    Q_ASSERT(it != m_devices.constEnd());
    return it.value();
}

bool DeviceSimulator::start()
{
    for (const QString& name : m_devices.keys()) {
        if (!plug(name))
            return false;
    }
    return true;
}

void DeviceSimulator::shutdown()
{
    for (const QString& name : m_devices.keys())
        unplug(name);
}

FirmwareAnswer DeviceSimulator::receive(const QString& name, const QByteArray& report)
{
    const SimulatedDevice& simulated = device(name);
    FirmwareRequest request;
    const FirmwareAnswer answer = firmwareAnswer(simulated, report, &request);
    if (!request.warning.isEmpty())
        printErr(name + QStringLiteral(": ") + request.warning);
    if (!request.line.isEmpty())
        printOut(name + QLatin1Char(' ') + request.line);
    if (request.isData)
        emit displayChanged(name, request.state);
    return answer;
}

void DeviceSimulator::command(const QString& line)
{
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return;
    const QString& verb = words.first();
    if (verb == QLatin1String("quit") && words.size() == 1) {
        emit quitRequested();
        return;
    }
    if (words.size() < 2 || !m_devices.contains(words.at(1))) {
        printErr(QStringLiteral("unknown command or device: %1").arg(line.left(200)));
        return;
    }
    const QString& name = words.at(1);
    if (verb == QLatin1String("unplug") && words.size() == 2) {
        unplug(name);
    } else if (verb == QLatin1String("plug") && words.size() == 2) {
        plug(name);
    } else if (verb == QLatin1String("fault") && words.size() == 3) {
        if (!DeviceFault::parse(words.at(2), &m_devices[name].fault))
            printErr(QStringLiteral("unknown fault: %1").arg(words.at(2).left(50)));
        faultChanged(name);
    } else {
        printErr(QStringLiteral("unknown command: %1").arg(line.left(200)));
    }
}
