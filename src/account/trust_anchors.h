// What HTTPS transfers trust besides the system's anchors: certificates an
// operator names in the override file (key CaFile of section Main), a file
// beside the override file. Process-wide, because the whole client talks to
// one operator's service; every connection made after a change sees it.
#pragma once
#include <string>
#include <string_view>

// Replaces the extra anchors with the certificates of a PEM text. False (and
// no extra anchors) when the text holds no certificate or a damaged one.
bool SetExtraTrustAnchorsPem(std::string_view pem);
void ClearExtraTrustAnchors();
bool HasExtraTrustAnchors();

// The CaFile value is a plain file name in the override file's folder: no
// folder part, no drive, nothing that climbs out. Empty when the value is
// not such a name (or is empty).
std::wstring OperatorCaFilePath(const std::wstring& overrideFilePath, const std::wstring& caFileValue);

enum class OperatorCaLoad { NotNamed, Loaded, Refused };
// Reads CaFile from the override file and makes its certificates extra
// anchors. A value that is not a plain name, or a file without a valid
// certificate, is refused and leaves no extra anchors.
OperatorCaLoad LoadOperatorCaFile(const std::wstring& overrideFilePath);

// OpenSSL reads a configuration file at its first use: the one OPENSSL_CONF
// names, or openssl.cnf in a folder fixed when the library was built. On
// Windows that folder ("\var\cache\...") is one any user may create, and a
// configuration can load a library into the process, which runs as
// administrator. Called before any other use of OpenSSL, this makes every
// later start of it read no file; true when it took effect.
bool KeepTlsLibraryFromReadingConfiguration();

// For libcurl's SSL context hook: adds the extra anchors to an OpenSSL
// SSL_CTX's certificate store.
void AddExtraTrustAnchorsTo(void* sslContext);
