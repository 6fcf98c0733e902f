#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>

namespace varnoks {

// One entry of a directory listing: name, type, size, owner, dates and the
// usual Unix permission bits. A plain value type.
//
// It lives in our namespace because Qt's network library exports a private
// class of the same name; a receiver connecting by signature text declares its
// slot parameter as `const QUrlInfo&` with `using varnoks::QUrlInfo;` in scope,
// so that the normalised signatures match.
class QUrlInfo
{
public:
    enum PermissionSpec
    {
        ReadOwner = 0400,
        WriteOwner = 0200,
        ExeOwner = 0100,
        ReadGroup = 040,
        WriteGroup = 020,
        ExeGroup = 010,
        ReadOther = 04,
        WriteOther = 02,
        ExeOther = 01
    };

    QUrlInfo() = default;

    // An entry is valid once it carries a name.
    bool isValid() const { return m_bValid; }

    QString name() const { return m_strName; }
    int permissions() const { return m_nPermissions; }
    QString owner() const { return m_strOwner; }
    QString group() const { return m_strGroup; }
    qint64 size() const { return m_nSize; }
    QDateTime lastModified() const { return m_lastModified; }
    QDateTime lastRead() const { return m_lastRead; }
    bool isDir() const { return m_bDir; }
    bool isFile() const { return m_bFile; }
    bool isSymLink() const { return m_bSymLink; }
    bool isWritable() const { return m_bWritable; }
    bool isReadable() const { return m_bReadable; }
    bool isExecutable() const { return m_bExecutable; }

    void setName(const QString& name);
    void setPermissions(int permissions);
    void setOwner(const QString& owner);
    void setGroup(const QString& group);
    void setSize(qint64 size);
    void setLastModified(const QDateTime& dateTime);
    void setLastRead(const QDateTime& dateTime);
    void setDir(bool b);
    void setFile(bool b);
    void setSymLink(bool b);
    void setWritable(bool b);
    void setReadable(bool b);

    bool operator==(const QUrlInfo& other) const;
    bool operator!=(const QUrlInfo& other) const { return !(*this == other); }

private:
    QString m_strName;
    int m_nPermissions = 0;
    QString m_strOwner;
    QString m_strGroup;
    qint64 m_nSize = 0;
    QDateTime m_lastModified;
    QDateTime m_lastRead;
    bool m_bDir = false;
    bool m_bFile = true;
    bool m_bSymLink = false;
    bool m_bWritable = true;
    bool m_bReadable = true;
    bool m_bExecutable = false;
    bool m_bValid = false;
};

} // namespace varnoks

Q_DECLARE_METATYPE(varnoks::QUrlInfo)
