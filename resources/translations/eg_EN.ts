<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>AboutDlg</name>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>设备监测软件</source>
        <translation>Device Monitor Application</translation>
    </message>
    <message>
        <source>软件版本：</source>
        <translation>Software Version:</translation>
    </message>
    <message>
        <source>硬件版本：</source>
        <translation>Hardware Version:</translation>
    </message>
    <message>
        <source>固件版本：</source>
        <translation>Firmware Version:</translation>
    </message>
    <message>
        <source>--</source>
        <translation>--</translation>
    </message>
</context>
<context>
    <name>CSensorChooserDlg</name>
    <message>
        <source>选择传感器</source>
        <translation>Choose Sensors</translation>
    </message>
    <message>
        <source>CPU温度</source>
        <translation>CPU Temperature</translation>
    </message>
    <message>
        <source>GPU温度</source>
        <translation>GPU Temperature</translation>
    </message>
    <message>
        <source>CPU风扇</source>
        <translation>CPU Fan</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>自动</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>%1（当前不存在）</source>
        <translation>%1 (not present now)</translation>
    </message>
</context>
<context>
    <name>CSettingDlg</name>
    <message>
        <source>温馨提示</source>
        <translation>Tips</translation>
    </message>
    <message>
        <source>更改语言需要重新启动才能生效。</source>
        <translation>Language changes will take effect after restarting the software.</translation>
    </message>
</context>
<context>
    <name>CUpgradeDialog</name>
    <message>
        <source>新版本程序安装包无法启动，请手动运行：</source>
        <translation>The new version&apos;s installation package could not be started. Please run it yourself: </translation>
    </message>
    <message>
        <source>下载更新</source>
        <translation>Downloading</translation>
    </message>
    <message>
        <source>程序正在下载更新中，请稍后......</source>
        <translation>The application is downloading updates, please wait...</translation>
    </message>
    <message>
        <source>取消更新</source>
        <translation>Cancel upgrade</translation>
    </message>
    <message>
        <source>更新提示</source>
        <translation>Upgrade Tips</translation>
    </message>
    <message>
        <source>检测到新版本：</source>
        <translation>A new version has been detected：</translation>
    </message>
    <message>
        <source>, 是否需要更新？</source>
        <translation>,confirm whether to upgrade?</translation>
    </message>
    <message>
        <source>当前软件已是最新版本！</source>
        <translation>This is the latest version!</translation>
    </message>
    <message>
        <source>新版本程序安装包已下载完成，是否立即重启安装？</source>
        <translation>The new version application installation package has downloaded,restart and install immediately?</translation>
    </message>
    <message>
        <source>温馨提示</source>
        <translation>Kind Tips</translation>
    </message>
    <message>
        <source>是否确认停止下载更新？</source>
        <translation>Confirm stop download updates？</translation>
    </message>
    <message>
        <source>该版本暂无 Linux 安装包</source>
        <translation>no Linux package for this version yet</translation>
    </message>
    <message>
        <source>新版本程序安装包未安装：</source>
        <translation>The new version was not installed: </translation>
    </message>
    <message>
        <source>缺少签名</source>
        <translation>the signature is missing</translation>
    </message>
    <message>
        <source>此版本程序未带可信的签名公钥，不能安装更新</source>
        <translation>this build trusts no signing key, so it installs no update</translation>
    </message>
    <message>
        <source>安装包无法读取</source>
        <translation>the package cannot be read</translation>
    </message>
    <message>
        <source>签名不匹配</source>
        <translation>the signature does not match</translation>
    </message>
    <message>
        <source>没有找到可以安装软件包的程序，请在终端中运行：</source>
        <translation>No program to install the package was found. Install it from a terminal with:</translation>
    </message>
</context>
<context>
    <name>FtpManager</name>
    <message>
        <source>程序升级服务器连接失败，请检查网络是否正常！</source>
        <translation>The program upgrade server connection failed. Please check if the network is functioning properly.</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>MainWindow</source>
        <translation>MainWindow</translation>
    </message>
    <message>
        <source>CPU温度</source>
        <translation>CPU Temperature</translation>
    </message>
    <message>
        <source>CPU使用率</source>
        <translation>CPU Usage Rate</translation>
    </message>
    <message>
        <source>GPU温度</source>
        <translation>GPU Temperature</translation>
    </message>
    <message>
        <source>GPU使用率</source>
        <translation>GPU Usage Rate</translation>
    </message>
    <message>
        <source>风扇转速(转)</source>
        <translation>Fan RPM</translation>
    </message>
    <message>
        <source>UUID</source>
        <translation>UUID</translation>
    </message>
    <message>
        <source>VID</source>
        <translation>VID</translation>
    </message>
    <message>
        <source>PID</source>
        <translation>PID</translation>
    </message>
    <message>
        <source>软件版本</source>
        <translation>Software Version</translation>
    </message>
    <message>
        <source>硬件版本</source>
        <translation>Hardware version</translation>
    </message>
    <message>
        <source>设备路径</source>
        <translation>Device Path</translation>
    </message>
    <message>
        <source>设备监测软件</source>
        <translation>Device Monitor Application</translation>
    </message>
    <message>
        <source>设备检测软件 - 监测中</source>
        <translation>Device Monitor Application - Monitoring</translation>
    </message>
    <message>
        <source>RPM</source>
        <translation>RPM</translation>
    </message>
    <message>
        <source>温馨提示</source>
        <translation>Kind Tips</translation>
    </message>
    <message>
        <source>您确认要退出程序？</source>
        <translation>Do you confirm to quit？</translation>
    </message>
</context>
<context>
    <name>MessageBoxShow</name>
    <message>
        <source>确定</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>QFtp</name>
    <message>
        <source>Unknown error</source>
        <translation>Unknown error</translation>
    </message>
    <message>
        <source>Connected to host %1</source>
        <translation>Connected to host %1</translation>
    </message>
    <message>
        <source>Not connected</source>
        <translation>Not connected</translation>
    </message>
    <message>
        <source>Connection refused for data connection</source>
        <translation>Connection refused for data connection</translation>
    </message>
    <message>
        <source>Host %1 not found</source>
        <translation>Host %1 not found</translation>
    </message>
    <message>
        <source>Connection refused to host %1</source>
        <translation>Connection refused to host %1</translation>
    </message>
    <message>
        <source>Connection timed out to host %1</source>
        <translation>Connection timed out to host %1</translation>
    </message>
    <message>
        <source>Connection closed</source>
        <translation>Connection closed</translation>
    </message>
    <message>
        <source>Connecting to host failed:
%1</source>
        <translation>Connecting to host failed:
%1</translation>
    </message>
    <message>
        <source>Login failed:
%1</source>
        <translation>Login failed:
%1</translation>
    </message>
    <message>
        <source>Listing directory failed:
%1</source>
        <translation>Listing directory failed:
%1</translation>
    </message>
    <message>
        <source>Changing directory failed:
%1</source>
        <translation>Changing directory failed:
%1</translation>
    </message>
    <message>
        <source>Downloading file failed:
%1</source>
        <translation>Downloading file failed:
%1</translation>
    </message>
    <message>
        <source>Uploading file failed:
%1</source>
        <translation>Uploading file failed:
%1</translation>
    </message>
    <message>
        <source>Removing file failed:
%1</source>
        <translation>Removing file failed:
%1</translation>
    </message>
    <message>
        <source>Creating directory failed:
%1</source>
        <translation>Creating directory failed:
%1</translation>
    </message>
    <message>
        <source>Removing directory failed:
%1</source>
        <translation>Removing directory failed:
%1</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>错误提示</source>
        <translation>Error Message</translation>
    </message>
    <message>
        <source>程序运行异常，即将退出！</source>
        <translation>The application has run into an error and will exit!</translation>
    </message>
</context>
<context>
    <name>SettingDlg</name>
    <message>
        <source>设置</source>
        <translation>Varnoks Pilot</translation>
    </message>
    <message>
        <source>通用设置</source>
        <translation>General Settings</translation>
    </message>
    <message>
        <source>语言</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>简体中文</source>
        <translation>简体中文</translation>
    </message>
    <message>
        <source>繁體中文</source>
        <translation>繁體中文</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>开机启动</source>
        <translation>Auto-Start On Boot</translation>
    </message>
    <message>
        <source>是</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>否</source>
        <translation>No</translation>
    </message>
    <message>
        <source>温度单位</source>
        <translation>Temperature Unit</translation>
    </message>
    <message>
        <source>摄氏度（℃）</source>
        <translation>Celsius</translation>
    </message>
    <message>
        <source>华氏度（℉）</source>
        <translation>Fahrenheit</translation>
    </message>
    <message>
        <source>数据切换间隔(s)</source>
        <translation>Data Change Interval(s)</translation>
    </message>
    <message>
        <source>报警阈值</source>
        <translation>Alert Threshold Settings</translation>
    </message>
    <message>
        <source>CPU温度阈值(℃)</source>
        <translation>CPU Temperature Alert</translation>
    </message>
    <message>
        <source>GPU温度阈值(℃)</source>
        <translation>GPU Temperature Alert</translation>
    </message>
    <message>
        <source>风扇转速阈值(转)</source>
        <translation>Fan Speed Alert(RPM)</translation>
    </message>
    <message>
        <source>设备显示项</source>
        <translation>Display Options</translation>
    </message>
    <message>
        <source>CPU温度</source>
        <translation>CPU Temperature</translation>
    </message>
    <message>
        <source>GPU温度</source>
        <translation>GPU Temperature</translation>
    </message>
    <message>
        <source>风扇转速</source>
        <translation>Fan Speed</translation>
    </message>
    <message>
        <source>选择传感器…</source>
        <translation>Choose Sensors…</translation>
    </message>
</context>
<context>
    <name>TrayIconMenu</name>
    <message>
        <source>打开主界面</source>
        <translation>Open Main Window</translation>
    </message>
    <message>
        <source>设备列表</source>
        <translation>Devices</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>检查更新</source>
        <translation>Update</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
</context>
</TS>
