#include "qurlinfo.h"

namespace varnoks {

void QUrlInfo::setName(const QString& name)
{
    m_strName = name;
    m_bValid = true;
}

void QUrlInfo::setPermissions(int permissions)
{
    m_nPermissions = permissions;
    // Executable for whoever may execute it at all; the listing does not say
    // who we are on the server.
    m_bExecutable = (permissions & (ExeOwner | ExeGroup | ExeOther)) != 0;
    m_bValid = true;
}

void QUrlInfo::setOwner(const QString& owner)
{
    m_strOwner = owner;
    m_bValid = true;
}

void QUrlInfo::setGroup(const QString& group)
{
    m_strGroup = group;
    m_bValid = true;
}

void QUrlInfo::setSize(qint64 size)
{
    m_nSize = size;
    m_bValid = true;
}

void QUrlInfo::setLastModified(const QDateTime& dateTime)
{
    m_lastModified = dateTime;
    m_bValid = true;
}

void QUrlInfo::setLastRead(const QDateTime& dateTime)
{
    m_lastRead = dateTime;
    m_bValid = true;
}

void QUrlInfo::setDir(bool b)
{
    m_bDir = b;
    m_bValid = true;
}

void QUrlInfo::setFile(bool b)
{
    m_bFile = b;
    m_bValid = true;
}

void QUrlInfo::setSymLink(bool b)
{
    m_bSymLink = b;
    m_bValid = true;
}

void QUrlInfo::setWritable(bool b)
{
    m_bWritable = b;
    m_bValid = true;
}

void QUrlInfo::setReadable(bool b)
{
    m_bReadable = b;
    m_bValid = true;
}

bool QUrlInfo::operator==(const QUrlInfo& other) const
{
    return m_bValid == other.m_bValid && m_strName == other.m_strName &&
           m_nPermissions == other.m_nPermissions && m_strOwner == other.m_strOwner &&
           m_strGroup == other.m_strGroup && m_nSize == other.m_nSize &&
           m_lastModified == other.m_lastModified && m_lastRead == other.m_lastRead &&
           m_bDir == other.m_bDir && m_bFile == other.m_bFile && m_bSymLink == other.m_bSymLink &&
           m_bWritable == other.m_bWritable && m_bReadable == other.m_bReadable &&
           m_bExecutable == other.m_bExecutable;
}

} // namespace varnoks
