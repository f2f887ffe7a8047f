#include "UsbCameraTransport.h"

#include <libusb.h>

UsbCameraTransport::~UsbCameraTransport()
{
    close();
}

int UsbCameraTransport::open(uint16_t vendorId, uint16_t productId, int interfaceNumber)
{
    if (!m_contextUp) {
        const int rc = libusb_init(nullptr);
        if (rc < 0)
            return rc;
        m_contextUp = true;
    }
    m_handle = libusb_open_device_with_vid_pid(nullptr, vendorId, productId);
    const int rc = m_handle ? libusb_claim_interface(m_handle, interfaceNumber) : LIBUSB_ERROR_NO_DEVICE;
    if (rc < 0) {
        if (m_handle)
            libusb_close(m_handle);
        m_handle = nullptr;
        close(); // a failed open leaves nothing behind: the context ends too
        return rc;
    }
    m_interface = interfaceNumber;
    return 0;
}

void UsbCameraTransport::close()
{
    if (m_handle) {
        libusb_release_interface(m_handle, m_interface);
        libusb_close(m_handle);
        m_handle = nullptr;
    }
    if (m_contextUp) {
        libusb_exit(nullptr);
        m_contextUp = false;
    }
}

int UsbCameraTransport::controlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                                        unsigned char *data, uint16_t length, unsigned int timeoutMs)
{
    if (!m_handle)
        return LIBUSB_ERROR_NO_DEVICE;
    return libusb_control_transfer(m_handle, requestType, request, value, index, data, length, timeoutMs);
}

int UsbCameraTransport::bulkRead(uint8_t endpoint, unsigned char *data, int length, int *transferred,
                                 unsigned int timeoutMs)
{
    if (!m_handle)
        return LIBUSB_ERROR_NO_DEVICE;
    return libusb_bulk_transfer(m_handle, endpoint, data, length, transferred, timeoutMs);
}
