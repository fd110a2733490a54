// libcurl's global set-up for every test program, done before main starts
// any thread, as the main window does in the product.
#include "account/curl_plus.h"

namespace {
const CCurlGlobal g_curlGlobal;
}
