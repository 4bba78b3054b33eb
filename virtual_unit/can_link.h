#ifndef VIRTUAL_UNIT_CAN_LINK_H
#define VIRTUAL_UNIT_CAN_LINK_H

// The virtual unit's side of a CAN FD bus: a raw SocketCAN socket with CAN FD frames on
// one interface (a vcan interface in the guest check). Requests come in as frames and
// are handed to the simulated unit as the output reports a USB host would send; replies
// go out as frames, with now and then a frame of the bus's other traffic in between.
#include <linux/can.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vu {

// What a request frame turned into, for the simulated unit's request decoder.
struct FrameRequest {
    bool is_request = false;     // false: extended format, remote request or an error frame
    bool padded = false;         // the length was one no frame carries: padded as a controller does
    std::vector<uint8_t> report; // report number 5, identifier (LE), length, payload
};

class CanLink {
public:
    CanLink() = default;
    ~CanLink();
    CanLink(const CanLink &) = delete;
    CanLink &operator=(const CanLink &) = delete;

    // Opens the interface; false with the reason in *error.
    bool open(const std::string &interface_name, std::string *error);
    void close();
    bool opened() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string &name() const { return name_; }

    // Reads one frame; false on a read error.
    bool readFrame(canfd_frame *frame, bool *fd_frame);
    // Sends the reply in a unit's input report (report number, interface, identifier
    // (LE), length, payload) as one CAN FD frame; false when the kernel did not take it.
    bool sendReply(const uint8_t *report, std::size_t length);
    // Sends the next frame of the bus's other traffic; false when the kernel did not take it.
    bool sendBroadcast();

    // The request a frame carries, as the output report the unit's decoder takes.
    static FrameRequest toRequest(const canfd_frame &frame);

private:
    int fd_ = -1;
    std::string name_;
    unsigned next_broadcast_ = 0;
};

} // namespace vu

#endif // VIRTUAL_UNIT_CAN_LINK_H
