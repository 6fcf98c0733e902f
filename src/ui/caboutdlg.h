#pragma once

#include "device/hiddeviceinfo.h"

#include <QDialog>

namespace Ui {
class AboutDlg;
}

// Application name, its own version and the two version numbers of the
// first recognised device.
class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

    // The device's identification reply carries two version pairs; they show
    // under the hardware and the firmware caption. Null shows "--" for both.
    void setDeviceVersions(const HIDDeviceInfo* pDeviceInfo);

private:
    Ui::AboutDlg* ui;
};
