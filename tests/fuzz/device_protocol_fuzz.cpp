// Bytes from the network, as either end of the controller link reads them: frames are taken off the
// stream, decoded, and the simulator answers the requests. Nothing may crash or read out of bounds.
#include "lib/devicecomm/protocol.h"
#include "tools/ledsim/controller.h"
#include "tools/ledsim/topology.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ledsim::Controller* controller = [] {
        ledsim::Topology t = ledsim::DefaultTopology();
        t.ports[0].cards.push_back(ledsim::CardSpec{0, 1024, 3, 130}); // a stride with padding
        auto* c = new ledsim::Controller(t, ledsim::ControllerOptions{});
        std::string error;
        c->Open(error);
        return c;
    }();
    size_t offset = 0;
    while (offset < size) {
        devproto::Frame frame;
        size_t used = 0;
        if (devproto::TakeFrame(data + offset, size - offset, frame, used) != devproto::ParseResult::Ok) {
            break;
        }
        offset += used;
        devproto::Request request;
        if (devproto::DecodeRequest(frame, request)) {
            const devproto::Response r = controller->Handle(request);
            devproto::EncodeResponse(r);
        }
        devproto::Response response;
        devproto::DecodeResponse(frame, response);
    }
    return 0;
}
