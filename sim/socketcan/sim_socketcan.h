#ifndef SIM_SOCKETCAN_H
#define SIM_SOCKETCAN_H

// The simulated units on a CAN FD bus, reached through the same SocketCAN calls the tool's CAN FD
// transport makes (socket, ioctl, setsockopt, bind, write, poll, read, close). Linked into a test
// program, this file answers those calls for the raw CAN sockets of that program: such a socket is
// one end of a local socket pair, the interface names are the ones the simulated units are placed
// on (SimUnit::setCanInterface), and each frame the tool writes reaches every unit on that bus at
// once; the unit's replies are put on the other end of the pair, so the transport's own poll and
// read take them as they take a kernel's. Every other call of the program goes to the system
// unchanged. Linux only; never linked into a program that must reach a real bus.
//
// Left out: the kernel's echo of a socket's frames to the program's other sockets on the same
// interface, and interfaces that go down.

namespace sim {

// The raw CAN sockets the program opened and closed, so that a test can see none is left open.
struct CanCalls {
    int opened = 0;
    int closed = 0;
    int frames_written = 0; // frames the tool put on a bus
};
CanCalls &canCalls();

} // namespace sim

#endif // SIM_SOCKETCAN_H
