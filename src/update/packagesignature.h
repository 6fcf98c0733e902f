#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Detached signatures of update packages in minisign's format, checked with
// libsodium's Ed25519.
//
// A public key file is two lines: "untrusted comment: ..." and the base64 of
// "Ed", the 8-byte key id and the 32-byte key. A signature file is four
// lines: "untrusted comment: ...", the base64 of the algorithm ("ED": the
// signature covers the file's BLAKE2b-512 hash; "Ed": the legacy form, it
// covers the file itself), the key id and the 64-byte signature, then
// "trusted comment: ..." and the base64 of the global signature, which
// covers the file signature followed by the trusted comment. Both files come
// from outside and are read strictly: exact line prefixes, canonical base64
// of exactly the right size, a bounded size.
namespace PackageSignature {

// Larger signature or key files are refused unread.
constexpr int MAX_SIGNATURE_FILE_BYTES = 16384;
constexpr int MAX_KEY_FILE_BYTES = 4096;
constexpr int KEY_ID_BYTES = 8;
constexpr int PUBLIC_KEY_BYTES = 32;
constexpr int SIGNATURE_BYTES = 64;

struct PublicKey
{
    QByteArray keyId; // 8 bytes, as stored
    QByteArray key;   // 32 bytes
};

struct Signature
{
    bool prehashed = false; // "ED" rather than the legacy "Ed"
    QByteArray keyId;
    QByteArray signature;
    QByteArray trustedComment; // the text after "trusted comment: "
    QByteArray globalSignature;
};

// Both return false and say why in *pWhy for anything but a well-formed file.
bool parsePublicKey(const QByteArray& text, PublicKey* pKey, QString* pWhy);
bool parseSignature(const QByteArray& text, Signature* pSignature, QString* pWhy);

// The key id as minisign prints it: 16 upper-case hex digits of the id read
// as a little-endian number.
QString keyIdText(const QByteArray& keyId);

// Folder of the trusted public keys: VARNOKS_UPDATE_KEYS_DIR when it is set
// and not empty, else the one installed with the program (relative to the
// executable's folder).
QString trustedKeysDir();

// Every "*.pub" file in strDir that parses, in name order. Files that do not
// parse are skipped and named in *pProblems.
QList<PublicKey> loadTrustedKeys(const QString& strDir, QStringList* pProblems);

enum class Outcome
{
    Good,
    NoTrustedKey, // nothing to check against: never install
    Malformed,    // the signature file is not a minisign signature
    UnknownKey,   // signed with a key this program does not trust
    Mismatch,     // the file or the trusted comment changed after signing
    Unreadable,   // the file to check cannot be read
};

struct Verdict
{
    Outcome outcome = Outcome::Mismatch;
    QString keyId;  // the signature's key id, when it could be read
    QString detail; // for the run log
};

// Checks strFilePath against the signature text and the trusted keys.
Verdict verifyFile(const QString& strFilePath, const QByteArray& signatureText, const QList<PublicKey>& keys);

} // namespace PackageSignature
