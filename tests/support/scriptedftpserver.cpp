#include "scriptedftpserver.h"

#include <sys/socket.h>

ScriptedFtpServer::ScriptedFtpServer(const QHostAddress& address) : m_address(address)
{
    connect(&m_control, &QTcpServer::newConnection, this, &ScriptedFtpServer::onNewConnection);
    connect(&m_dataServer, &QTcpServer::newConnection, this, &ScriptedFtpServer::onDataConnection);
    // One tick per event-loop pass, so the client reads between the pieces.
    m_pump.setInterval(0);
    connect(&m_pump, &QTimer::timeout, this, &ScriptedFtpServer::pump);
    m_control.listen(address, 0);
}

void ScriptedFtpServer::onNewConnection()
{
    QTcpSocket* socket = m_control.nextPendingConnection();
    if (!socket)
        return;
    socket->setParent(this);
    m_client = socket;
    m_buffer.clear();
    connect(socket, &QTcpSocket::readyRead, this, &ScriptedFtpServer::onReadyRead);
    if (!m_greeting.isEmpty())
        send(m_greeting);
}

void ScriptedFtpServer::onReadyRead()
{
    if (!m_client)
        return;
    m_buffer += m_client->readAll();
    int newline;
    while ((newline = m_buffer.indexOf("\r\n")) >= 0) {
        const QByteArray line = m_buffer.left(newline);
        m_buffer.remove(0, newline + 2);
        m_received << line;
        if (!m_handler || !m_handler(line))
            standardAnswer(line);
    }
}

bool ScriptedFtpServer::receivedCommand(const QByteArray& verb) const
{
    for (const QByteArray& line : m_received) {
        if (line == verb || line.startsWith(verb + ' '))
            return true;
    }
    return false;
}

void ScriptedFtpServer::queueWrite(QTcpSocket* socket, const QByteArray& bytes, bool closeAfter)
{
    if (!m_split) {
        m_queue.append({socket, bytes, closeAfter});
    } else {
        for (int i = 0; i < bytes.size(); ++i)
            m_queue.append({socket, bytes.mid(i, 1), closeAfter && i == bytes.size() - 1});
        if (bytes.isEmpty())
            m_queue.append({socket, QByteArray(), closeAfter});
    }
    if (!m_pump.isActive())
        m_pump.start();
}

void ScriptedFtpServer::pump()
{
    // Unsplit writes go out together; split ones one per tick.
    do {
        if (m_queue.isEmpty()) {
            m_pump.stop();
            return;
        }
        Chunk chunk = m_queue.takeFirst();
        if (!chunk.socket)
            continue;
        if (!chunk.bytes.isEmpty()) {
            chunk.socket->write(chunk.bytes);
            chunk.socket->flush();
        }
        if (chunk.reset) {
            // A zero linger time makes the close a reset.
            const linger off{1, 0};
            setsockopt(int(chunk.socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &off, sizeof off);
            chunk.socket->abort();
        } else if (chunk.closeAfter) {
            chunk.socket->disconnectFromHost();
        }
    } while (!m_split);
}

void ScriptedFtpServer::send(const QByteArray& bytes)
{
    if (m_client)
        queueWrite(m_client, bytes, false);
}

void ScriptedFtpServer::closeControl()
{
    if (m_client)
        queueWrite(m_client, QByteArray(), true);
}

quint16 ScriptedFtpServer::openPassive()
{
    if (!m_dataServer.isListening())
        m_dataServer.listen(m_address, 0);
    return m_dataServer.serverPort();
}

QByteArray ScriptedFtpServer::pasvReply(quint16 port) const
{
    return QByteArray("227 Entering Passive Mode (127,0,0,1,") + QByteArray::number(port >> 8) + ',' +
           QByteArray::number(port & 0xff) + ")\r\n";
}

void ScriptedFtpServer::onDataConnection()
{
    QTcpSocket* socket = m_dataServer.nextPendingConnection();
    if (!socket)
        return;
    socket->setParent(this);
    m_data = socket;
    ++m_nDataConnections;
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { m_dataReceived += socket->readAll(); });
    const auto actions = m_dataActions;
    m_dataActions.clear();
    for (const auto& action : actions)
        action(socket);
}

void ScriptedFtpServer::whenDataConnected(std::function<void(QTcpSocket*)> action)
{
    if (m_data && m_data->state() == QAbstractSocket::ConnectedState)
        action(m_data);
    else
        m_dataActions << action;
}

void ScriptedFtpServer::sendData(const QByteArray& bytes, bool close)
{
    whenDataConnected([this, bytes, close](QTcpSocket* socket) { queueWrite(socket, bytes, close); });
}

void ScriptedFtpServer::resetData()
{
    whenDataConnected([this](QTcpSocket* socket) {
        m_queue.append({socket, QByteArray(), false, true});
        if (!m_pump.isActive())
            m_pump.start();
    });
}

void ScriptedFtpServer::sendWhenDataCloses(const QByteArray& reply)
{
    whenDataConnected([this, reply](QTcpSocket* socket) {
        connect(socket, &QTcpSocket::disconnected, this, [this, reply] { send(reply); });
    });
}

void ScriptedFtpServer::closeData()
{
    whenDataConnected([this](QTcpSocket* socket) { queueWrite(socket, QByteArray(), true); });
}

void ScriptedFtpServer::standardAnswer(const QByteArray& line)
{
    const QByteArray verb = line.split(' ').first().toUpper();
    if (verb == "USER") {
        send("331 Password required\r\n");
    } else if (verb == "PASS") {
        send("230 Logged in\r\n");
    } else if (verb == "TYPE") {
        send("200 Type set\r\n");
    } else if (verb == "PASV") {
        send(pasvReply(openPassive()));
    } else if (verb == "EPSV") {
        send("229 Entering Extended Passive Mode (|||" + QByteArray::number(openPassive()) + "|)\r\n");
    } else if (verb == "LIST") {
        send("150 Here comes the listing\r\n");
        sendData(m_listing, true);
        // The transfer reply follows once the data connection is done.
        sendWhenDataCloses("226 Transfer complete\r\n");
    } else if (verb == "SIZE") {
        send("213 " + QByteArray::number(m_file.size()) + "\r\n");
    } else if (verb == "RETR") {
        send("150 Opening data connection\r\n");
        sendData(m_file, true);
        sendWhenDataCloses("226 Transfer complete\r\n");
    } else if (verb == "QUIT") {
        send("221 Goodbye\r\n");
        closeControl();
    } else if (verb == "NOOP") {
        send("200 NOOP ok\r\n");
    } else {
        send("502 Command not implemented\r\n");
    }
}
