#include "ui/caboutdlg.h"

#include "app/common.h"
#include "ui_aboutdlg.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui(new Ui::AboutDlg)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    ui->lbl_software_vv->setText(COMMON::SOFTWARE_VERSION);
}

CAboutDlg::~CAboutDlg()
{
    delete ui;
}

void CAboutDlg::setDeviceVersions(const HIDDeviceInfo* pDeviceInfo)
{
    if (!pDeviceInfo) {
        ui->lbl_hardware_vv->setText(COMMON::EMPTY_VALUE_TEXT);
        ui->lbl_firmware_vv->setText(COMMON::EMPTY_VALUE_TEXT);
        return;
    }
    ui->lbl_hardware_vv->setText(QStringLiteral("V") + pDeviceInfo->strSoftwareVersion);
    ui->lbl_firmware_vv->setText(QStringLiteral("V") + pDeviceInfo->strHardwareVersion);
}
