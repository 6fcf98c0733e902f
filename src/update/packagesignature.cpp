#include "packagesignature.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sodium.h>

#include <algorithm>

namespace PackageSignature {

namespace {

const QByteArray kUntrustedPrefix = QByteArrayLiteral("untrusted comment: ");
const QByteArray kTrustedPrefix = QByteArrayLiteral("trusted comment: ");
// Legacy files are checked from a mapping of the whole file; nothing larger
// is ever downloaded.
constexpr qint64 kMaxFileBytes = qint64(1) << 30;
constexpr qint64 kReadChunk = 65536;

// Splits into lines at "\n" (with an optional "\r" before it); one final
// line break is allowed. Returns false for NUL bytes or stray "\r".
bool splitLines(const QByteArray& text, QList<QByteArray>* pLines)
{
    if (text.contains('\0'))
        return false;
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.contains('\r'))
            return false;
    }
    *pLines = lines;
    return true;
}

// Strict base64 (padded, standard alphabet, nothing around it) of exactly
// nBytes bytes.
bool decodeExactly(const QByteArray& base64, int nBytes, QByteArray* pOut)
{
    if (base64.isEmpty() || base64.size() > 4 * ((nBytes + 2) / 3))
        return false;
    QByteArray out(nBytes, '\0');
    size_t nDecoded = 0;
    const char* pEnd = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(out.data()), size_t(out.size()),
                          base64.constData(), size_t(base64.size()), nullptr, &nDecoded, &pEnd,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return false;
    if (pEnd != base64.constData() + base64.size() || nDecoded != size_t(nBytes))
        return false;
    *pOut = out;
    return true;
}

bool setWhy(QString* pWhy, const QString& strWhy)
{
    if (pWhy)
        *pWhy = strWhy;
    return false;
}

bool sodiumReady()
{
    // Safe to call again and from several threads; negative only when the
    // library cannot work at all.
    return sodium_init() >= 0;
}

bool verifyDetached(const QByteArray& signature, const unsigned char* pMessage, qint64 nLength,
                    const QByteArray& key)
{
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.constData()),
                                       pMessage, static_cast<unsigned long long>(nLength),
                                       reinterpret_cast<const unsigned char*>(key.constData())) == 0;
}

} // namespace

bool parsePublicKey(const QByteArray& text, PublicKey* pKey, QString* pWhy)
{
    if (text.size() > MAX_KEY_FILE_BYTES)
        return setWhy(pWhy, QStringLiteral("the key file is larger than %1 bytes").arg(MAX_KEY_FILE_BYTES));
    QList<QByteArray> lines;
    if (!splitLines(text, &lines) || lines.size() != 2)
        return setWhy(pWhy, QStringLiteral("a key file has two lines"));
    if (!lines.at(0).startsWith(kUntrustedPrefix))
        return setWhy(pWhy, QStringLiteral("the first line is not an untrusted comment"));
    QByteArray raw;
    if (!decodeExactly(lines.at(1), 2 + KEY_ID_BYTES + PUBLIC_KEY_BYTES, &raw))
        return setWhy(
            pWhy,
            QStringLiteral("the key is not base64 of %1 bytes").arg(2 + KEY_ID_BYTES + PUBLIC_KEY_BYTES));
    if (!raw.startsWith("Ed"))
        return setWhy(pWhy, QStringLiteral("the key is not an Ed25519 key"));
    if (pKey) {
        pKey->keyId = raw.mid(2, KEY_ID_BYTES);
        pKey->key = raw.mid(2 + KEY_ID_BYTES);
    }
    return true;
}

bool parseSignature(const QByteArray& text, Signature* pSignature, QString* pWhy)
{
    if (text.size() > MAX_SIGNATURE_FILE_BYTES)
        return setWhy(
            pWhy, QStringLiteral("the signature file is larger than %1 bytes").arg(MAX_SIGNATURE_FILE_BYTES));
    QList<QByteArray> lines;
    if (!splitLines(text, &lines) || lines.size() != 4)
        return setWhy(pWhy, QStringLiteral("a signature file has four lines"));
    if (!lines.at(0).startsWith(kUntrustedPrefix))
        return setWhy(pWhy, QStringLiteral("the first line is not an untrusted comment"));
    QByteArray raw;
    if (!decodeExactly(lines.at(1), 2 + KEY_ID_BYTES + SIGNATURE_BYTES, &raw))
        return setWhy(pWhy, QStringLiteral("the signature is not base64 of %1 bytes")
                                .arg(2 + KEY_ID_BYTES + SIGNATURE_BYTES));
    const QByteArray algorithm = raw.left(2);
    if (algorithm != "ED" && algorithm != "Ed")
        return setWhy(pWhy, QStringLiteral("unknown signature algorithm"));
    if (!lines.at(2).startsWith(kTrustedPrefix))
        return setWhy(pWhy, QStringLiteral("the third line is not a trusted comment"));
    QByteArray global;
    if (!decodeExactly(lines.at(3), SIGNATURE_BYTES, &global))
        return setWhy(pWhy,
                      QStringLiteral("the global signature is not base64 of %1 bytes").arg(SIGNATURE_BYTES));
    if (pSignature) {
        pSignature->prehashed = algorithm == "ED";
        pSignature->keyId = raw.mid(2, KEY_ID_BYTES);
        pSignature->signature = raw.mid(2 + KEY_ID_BYTES);
        pSignature->trustedComment = lines.at(2).mid(kTrustedPrefix.size());
        pSignature->globalSignature = global;
    }
    return true;
}

QString keyIdText(const QByteArray& keyId)
{
    QByteArray reversed(keyId.size(), '\0');
    std::reverse_copy(keyId.cbegin(), keyId.cend(), reversed.begin());
    return QString::fromLatin1(reversed.toHex().toUpper());
}

QString trustedKeysDir()
{
    const QString strOverride = qEnvironmentVariable("VARNOKS_UPDATE_KEYS_DIR");
    if (!strOverride.isEmpty())
        return strOverride;
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                           QStringLiteral(VARNOKS_KEYS_RELATIVE_DIR));
}

QList<PublicKey> loadTrustedKeys(const QString& strDir, QStringList* pProblems)
{
    QList<PublicKey> keys;
    const QFileInfoList files =
        QDir(strDir).entryInfoList({QStringLiteral("*.pub")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QFileInfo& info : files) {
        QFile file(info.filePath());
        QString strWhy;
        PublicKey key;
        if (!file.open(QIODevice::ReadOnly))
            strWhy = file.errorString();
        else if (parsePublicKey(file.read(MAX_KEY_FILE_BYTES + 1), &key, &strWhy))
            keys.append(key);
        if (!strWhy.isEmpty() && pProblems)
            pProblems->append(QStringLiteral("%1: %2").arg(info.filePath(), strWhy));
    }
    return keys;
}

Verdict verifyFile(const QString& strFilePath, const QByteArray& signatureText, const QList<PublicKey>& keys)
{
    Verdict verdict;
    Signature signature;
    const bool bParsed = parseSignature(signatureText, &signature, &verdict.detail);
    if (bParsed)
        verdict.keyId = keyIdText(signature.keyId);
    // Without a key nothing is ever installed, whatever came with the file.
    if (keys.isEmpty()) {
        verdict.outcome = Outcome::NoTrustedKey;
        verdict.detail = QStringLiteral("no trusted public key");
        return verdict;
    }
    if (!bParsed) {
        verdict.outcome = Outcome::Malformed;
        return verdict;
    }
    const PublicKey* pKey = nullptr;
    for (const PublicKey& key : keys) {
        if (key.keyId == signature.keyId) {
            pKey = &key;
            break;
        }
    }
    if (!pKey) {
        verdict.outcome = Outcome::UnknownKey;
        verdict.detail = QStringLiteral("signed with key %1, which is not trusted").arg(verdict.keyId);
        return verdict;
    }
    if (!sodiumReady()) {
        verdict.outcome = Outcome::Unreadable;
        verdict.detail = QStringLiteral("libsodium cannot be initialised");
        return verdict;
    }

    QFile file(strFilePath);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileBytes) {
        verdict.outcome = Outcome::Unreadable;
        verdict.detail = file.isOpen() ? QStringLiteral("the file is too large") : file.errorString();
        return verdict;
    }
    bool bFileGood = false;
    if (signature.prehashed) {
        crypto_generichash_state state;
        unsigned char hash[crypto_generichash_BYTES_MAX];
        static_assert(crypto_generichash_BYTES_MAX == 64, "minisign hashes with BLAKE2b-512");
        crypto_generichash_init(&state, nullptr, 0, sizeof hash);
        bool bRead = true;
        while (!file.atEnd()) {
            const QByteArray chunk = file.read(kReadChunk);
            if (chunk.isEmpty()) {
                bRead = false;
                break;
            }
            crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(chunk.constData()),
                                      static_cast<unsigned long long>(chunk.size()));
        }
        crypto_generichash_final(&state, hash, sizeof hash);
        if (!bRead) {
            verdict.outcome = Outcome::Unreadable;
            verdict.detail = file.errorString();
            return verdict;
        }
        bFileGood = verifyDetached(signature.signature, hash, sizeof hash, pKey->key);
    } else {
        const qint64 nSize = file.size();
        const unsigned char empty = 0;
        const uchar* pData = nSize > 0 ? file.map(0, nSize) : &empty;
        if (!pData) {
            verdict.outcome = Outcome::Unreadable;
            verdict.detail = file.errorString();
            return verdict;
        }
        bFileGood = verifyDetached(signature.signature, pData, nSize, pKey->key);
    }
    if (!bFileGood) {
        verdict.outcome = Outcome::Mismatch;
        verdict.detail = QStringLiteral("the signature of key %1 does not match the file").arg(verdict.keyId);
        return verdict;
    }
    const QByteArray signedComment = signature.signature + signature.trustedComment;
    if (!verifyDetached(signature.globalSignature,
                        reinterpret_cast<const unsigned char*>(signedComment.constData()),
                        signedComment.size(), pKey->key)) {
        verdict.outcome = Outcome::Mismatch;
        verdict.detail =
            QStringLiteral("the trusted comment does not match the signature of key %1").arg(verdict.keyId);
        return verdict;
    }
    verdict.outcome = Outcome::Good;
    verdict.detail = QStringLiteral("signed with key %1").arg(verdict.keyId);
    return verdict;
}

} // namespace PackageSignature
