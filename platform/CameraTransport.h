#pragma once
#include <cstdint>
#include <memory>

// The camera as a USB device: vendor control transfers, bulk reads, open and close. On the
// instrument it is libusb (UsbCameraTransport); in the simulated run and in tests the simulated
// camera stands behind the same interface. Results follow libusb's conventions: a byte count or
// 0 on success, a negative LIBUSB_ERROR_* code on failure.
class CameraTransport
{
public:
    virtual ~CameraTransport() = default;

    // libusb init, open by vendor/product, claim interface; 0 or a negative error.
    virtual int open(uint16_t vendorId, uint16_t productId, int interfaceNumber) = 0;
    // Releases the interface and closes the device (when open), then ends the context.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // A control transfer; data may be null when length is 0. Returns bytes moved or an error.
    virtual int controlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                                unsigned char *data, uint16_t length, unsigned int timeoutMs) = 0;
    // A bulk read from the IN endpoint; *transferred receives the bytes read. timeoutMs 0 = none.
    virtual int bulkRead(uint8_t endpoint, unsigned char *data, int length, int *transferred,
                         unsigned int timeoutMs) = 0;

    // The process-wide transport: libusb on the instrument; otherwise whatever the simulator
    // (or a test) installed. Not owned by the caller.
    static CameraTransport *instance();
    static void setInstance(CameraTransport *transport);
};
