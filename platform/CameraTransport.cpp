#include "CameraTransport.h"

#include "Paths.h"
#include "UsbCameraTransport.h"

#include <atomic>

namespace {
std::atomic<CameraTransport *> g_transport{nullptr};
}

CameraTransport *CameraTransport::instance()
{
    if (CameraTransport *transport = g_transport.load())
        return transport;
    if (Paths::isInstrument()) {
        static UsbCameraTransport usb;
        return &usb;
    }
    return nullptr;
}

void CameraTransport::setInstance(CameraTransport *transport)
{
    g_transport.store(transport);
}
