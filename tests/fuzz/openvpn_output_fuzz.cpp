// openvpn's output as the reader hands it over, in chunks of any size.
// Real recorded transcripts cut anywhere give the states of the transcript
// read whole and leave the table as it was after Stop; arbitrary output never
// reports a state out of order and never grows the buffer without bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fakes/fake_forward_table.h"
#include "fuzz_input.h"
#include "text/text_table.h"
#include "vpn/open_vpn.h"

namespace {

class CFedOpenVpn : public COpenVpn, public CGeneralVpnCallbackInterface {
 public:
  explicit CFedOpenVpn(IForwardTable& table) : COpenVpn(table) {
    SetCallback(this);
    SetCredentials(L"alice", L"secret");
  }
  void Feed(std::string_view chunk) { OnOutput(chunk.data(), chunk.size()); }
  void OnVpnStateChanged(CGeneralVpn* vpn) override { notes.push_back(vpn->GetStatus()); }
  std::vector<VpnStatus> notes;

 protected:
  void AnswerPrompt(const std::wstring&) override {}  // no child to answer
};

bool Legal(std::int32_t state) {
  switch (state) {
    case GENERAL_VPN_STATE_DISCONNECTED:
    case GENERAL_VPN_STATE_PREPARE:
    case GENERAL_VPN_STATE_CONNECT:
    case GENERAL_VPN_STATE_AUTHENTICATE:
    case GENERAL_VPN_STATE_AUTHENTICATED:
    case GENERAL_VPN_STATE_CONNECTED:
    case GENERAL_VPN_STATE_MODIFY_ROUTE:
    case GENERAL_VPN_STATE_ALL_DONE:
      return true;
    default:
      return false;
  }
}

// The route plan reports MODIFY_ROUTE before it works and ALL_DONE only
// after it succeeded; its failure is the last word of that attempt.
void CheckOrder(const std::vector<VpnStatus>& notes) {
  for (std::size_t i = 0; i < notes.size(); ++i) {
    FUZZ_CHECK(Legal(notes[i].state));
    if (notes[i].state == GENERAL_VPN_STATE_ALL_DONE) {
      FUZZ_CHECK(notes[i].error == 0 && i > 0);
      FUZZ_CHECK(notes[i - 1].state == GENERAL_VPN_STATE_MODIFY_ROUTE && notes[i - 1].error == 0);
    }
    if (notes[i].state == GENERAL_VPN_STATE_MODIFY_ROUTE && notes[i].error != 0)
      FUZZ_CHECK(i > 0 && notes[i - 1].state == GENERAL_VPN_STATE_MODIFY_ROUTE && notes[i - 1].error == 0);
  }
}

void SetUpTable(CFakeForwardTable& table) {
  SetUpHomeNetwork(table);
  table.AddAdapter(9, L"10.8.0.2", 5);  // the address the recorded server pushes
}

struct Transcript {
  std::string log;
  std::vector<VpnStatus> notes;  // read whole
};

std::vector<VpnStatus> Run(const std::string& log, const std::vector<std::size_t>& cuts, CFakeForwardTable& table) {
  CFedOpenVpn vpn(table);
  vpn.SetRouteMode(RouteModeListedRoutes);
  vpn.SetRoutes({L"172.30.1.0/24", L"172.30.2.0 mask 255.255.255.0"});
  std::size_t at = 0;
  for (std::size_t n : cuts) {
    if (at >= log.size()) break;
    vpn.Feed(std::string_view(log).substr(at, n));
    at += n;
  }
  if (at < log.size()) vpn.Feed(std::string_view(log).substr(at));
  FUZZ_CHECK(vpn.GetOutput().size() <= CConsoleRedirector::kMaxBufferedOutput);
  std::vector<VpnStatus> notes = vpn.notes;
  vpn.Stop();
  return notes;
}

std::vector<Transcript>& Transcripts() {
  static std::vector<Transcript> all;
  return all;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LoadTextTable();
  for (const char* name : {"openvpn-udp-verb5.log", "openvpn-tcp-verb5.log"}) {
    std::ifstream file(std::string(QUILLNET_TEST_DATA) + "/openvpn/" + name, std::ios::binary);
    Transcript t;
    t.log.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    FUZZ_CHECK(!t.log.empty());
    CFakeForwardTable table;
    SetUpTable(table);
    t.notes = Run(t.log, {}, table);
    Transcripts().push_back(std::move(t));
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CFuzzInput in(data, size);
  const std::uint8_t mode = in.Byte();
  CFakeForwardTable table;
  SetUpTable(table);
  const std::size_t baseline = table.CountRows();
  std::vector<std::size_t> cuts;
  if (mode & 1) {
    // A recorded transcript, cut where the input says.
    const Transcript& t = Transcripts()[(mode >> 1) % Transcripts().size()];
    while (!in.Empty()) cuts.push_back(1 + in.Number(2048));
    const std::vector<VpnStatus> notes = Run(t.log, cuts, table);
    FUZZ_CHECK(notes == t.notes);
  } else {
    // Arbitrary output, cut into chunks of the reader's sizes.
    const std::size_t chunk = 1 + (mode >> 1) * 33;
    const std::string log(in.Rest());
    for (std::size_t at = 0; at < log.size(); at += chunk) cuts.push_back(chunk);
    CheckOrder(Run(log, cuts, table));
  }
  FUZZ_CHECK(table.CountRows() == baseline);
  return 0;
}
