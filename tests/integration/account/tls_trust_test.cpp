// HTTPS transfers against the reference service with certificates of every
// kind: only a certificate for this host, in date, from an anchor the
// client trusts, carries a reply.
#include <gtest/gtest.h>

#include "account/account_service.h"
#include "account/reply_document.h"
#include "account/trust_anchors.h"
#include "fakes/temp_dir.h"
#include "fakes/transfer_wait.h"
#include "service_process.h"
#include "test_pki.h"

namespace {

constexpr std::uint32_t kMsg = kWmUser + 1;

struct Outcome {
  int status = 0;
  bool refused = false;
  bool marker = false;
};

Outcome Probe(const std::wstring& base) {
  CMessageQueue queue;
  CCurlPlus request = BuildProbeRequest(base);
  request.SetNotify(&queue, kMsg);
  if (!request.Start()) return {};
  WaitForTransferEnd(queue, request.EventId(), 20000);
  const std::string body = request.TakeReceived();
  return {request.ResponseCode(), request.CertificateRefused(), HasReplyMarker(body.data(), body.size())};
}

TEST(TlsTrust, OnlyAVerifiedCertificateCarriesAReply) {
  enum class Cert { Good, SelfSigned, OtherHost, Expired };
  struct Case {
    const char* name;
    Cert cert;
    bool trustTestCa;
    bool accepted;
  };
  const Case cases[] = {
      {"test CA's certificate, CA trusted", Cert::Good, true, true},
      {"test CA's certificate, CA not trusted", Cert::Good, false, false},
      {"self-signed", Cert::SelfSigned, true, false},
      {"certificate for another host", Cert::OtherHost, true, false},
      {"expired", Cert::Expired, true, false},
  };
  for (const Case& c : cases) {
    CTempDir dir;
    std::string knobs;
    if (c.cert != Cert::Good) {
      const PemPair pair = IssueBadServerCertificate(c.cert == Cert::SelfSigned  ? BadCertificate::SelfSigned
                                                     : c.cert == Cert::OtherHost ? BadCertificate::OtherHost
                                                                                 : BadCertificate::Expired);
      ASSERT_FALSE(pair.certificate.empty()) << c.name;
      knobs = "CertificateFile=" + WideToNarrow(dir.Write(L"cert.pem", pair.certificate)) +
              "\nKeyFile=" + WideToNarrow(dir.Write(L"key.pem", pair.key));
    }
    CServiceProcess service(knobs, "[VPN]\nRequiredClientVersion=2.3.0.2\n");
    ASSERT_TRUE(service.Ready()) << c.name;
    if (!c.trustTestCa) ClearExtraTrustAnchors();
    const Outcome o = Probe(service.HttpsBase());
    EXPECT_EQ(o.status == 200 && o.marker, c.accepted) << c.name << ": status " << o.status;
    EXPECT_EQ(o.refused, !c.accepted) << c.name;
    // The same service over plain HTTP still answers: a refused certificate
    // is a refused host, not a broken client.
    EXPECT_EQ(Probe(service.HttpBase()).status, 200) << c.name;
  }
  ClearExtraTrustAnchors();
}

TEST(TlsTrust, TheOverrideFilesCaFileIsTrustedAndAnythingElseIsNot) {
  CServiceProcess service("", "[VPN]\nRequiredClientVersion=2.3.0.2\n");
  ASSERT_TRUE(service.Ready());
  struct Case {
    const char* name;
    const wchar_t* value;
    bool writeCa;
    OperatorCaLoad load;
    bool accepted;
  };
  const Case cases[] = {
      {"the test CA beside the override file", L"operator-ca.pem", true, OperatorCaLoad::Loaded, true},
      {"no CaFile", L"", true, OperatorCaLoad::NotNamed, false},
      {"a name with a folder climbing out", L"../operator-ca.pem", true, OperatorCaLoad::Refused, false},
      {"a file that is not there", L"missing.pem", false, OperatorCaLoad::Refused, false},
  };
  for (const Case& c : cases) {
    CTempDir dir;
    std::filesystem::create_directories(dir.Path() / "app");
    const std::wstring override = (dir.Path() / "app" / "Quillnet.exe.ini").wstring();
    if (c.writeCa) {
      dir.Write(L"app/operator-ca.pem", TestPkiText("ca.pem"));
      dir.Write(L"operator-ca.pem", TestPkiText("ca.pem"));
    }
    if (*c.value) IniWriteString(override, L"Main", L"CaFile", c.value);
    SetExtraTrustAnchorsPem(TestPkiText("ca.pem"));  // what the file must replace
    EXPECT_EQ(LoadOperatorCaFile(override), c.load) << c.name;
    const Outcome o = Probe(service.HttpsBase());
    EXPECT_EQ(o.status == 200 && o.marker, c.accepted) << c.name << ": status " << o.status;
  }
  ClearExtraTrustAnchors();
}

}  // namespace
