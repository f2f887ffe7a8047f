#pragma once
#include "CameraTransport.h"

struct libusb_device_handle;

// The instrument's camera through libusb-1.0 (default context).
class UsbCameraTransport : public CameraTransport
{
public:
    ~UsbCameraTransport() override;
    int open(uint16_t vendorId, uint16_t productId, int interfaceNumber) override;
    void close() override;
    bool isOpen() const override { return m_handle != nullptr; }
    int controlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                        unsigned char *data, uint16_t length, unsigned int timeoutMs) override;
    int bulkRead(uint8_t endpoint, unsigned char *data, int length, int *transferred,
                 unsigned int timeoutMs) override;

private:
    libusb_device_handle *m_handle = nullptr;
    int m_interface = 0;
    bool m_contextUp = false;
};
