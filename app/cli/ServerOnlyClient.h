#pragma once

#include "server/LoadServerClient.h"

namespace korvane {

// The load server side only, for the commands that never talk to a pad.
class ServerOnlyClient : public LoadServerClient {
public:
    using LoadServerClient::LoadServerClient;
    int loadPackingList() override { return 0; }
};

}  // namespace korvane
