// End to end through the Linux libusb driver: the library finds a board 04b4:8613 that umockdev
// puts into a private sysfs and /dev, and this test answers the board's usbdevfs ioctls (control
// and bulk URBs, interface claims, alternate settings) with the simulated board behind them. The
// firmware download, the alternate setting and the command exchange all go through libusb as
// they would with hardware. Runs under umockdev-wrapper.
#include <errno.h>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "portiva_loader.h"
#include "transport/sim_board.h"

#ifdef PORTIVA_TEST_HAVE_BUILTIN_RECORDS
#include "firmware_image.h"
#endif

namespace {

constexpr const char* kDeviceNode = "/dev/bus/usb/001/002";

// Device, configuration, interface 0 with alternate settings 0 (no endpoints) and 1 (bulk
// endpoints 0x02, 0x04 out and 0x86, 0x88 in, 512 bytes).
constexpr const char* kDescriptors = "12010002FFFFFF40B4041386A0000000000109023700010100803209"
                                     "0400000000FFFFFF000904000104FFFFFF000705020200020007050402"
                                     "000200070586020002000705880200020"
                                     "0";

class UsbBoard {
public:
    portiva::SimBoard board;
    std::mutex mutex;
    std::deque<UMockdevIoctlData*> done;      // completed URBs waiting to be reaped
    std::vector<UMockdevIoctlData*> waiting;  // IN URBs with no answer yet
    std::deque<UMockdevIoctlData*> discarded; // cancelled by the host
    unsigned controlUrbs = 0;
    unsigned bulkUrbs = 0;
    unsigned claims = 0;
    unsigned releases = 0;                    // explicit, or implicit when the holder closes
    UMockdevIoctlClient* claimedBy = nullptr; // the open file that holds interface 0
    bool kernelDriver = true;                 // the kernel's usbtest module holds a fresh 04b4:8613
    unsigned detaches = 0;
    bool gone = false; // unplugged: every URB fails with ENODEV

    // As the kernel does when an interface is let go: back to alternate setting 0, which has no
    // endpoints.
    void Release() {
        ++releases;
        claimedBy = nullptr;
        board.SetInterface(0, 0);
    }

    ~UsbBoard() {
        for (auto* list : {&done, &discarded}) {
            for (auto* data : *list) {
                umockdev_ioctl_data_unref(data);
            }
        }
        for (auto* data : waiting) {
            umockdev_ioctl_data_unref(data);
        }
    }

    // Runs a submitted URB against the board; false leaves an IN URB waiting.
    bool Run(UMockdevIoctlData* urbData) {
        auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
        UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
            urbData, offsetof(usbdevfs_urb, buffer), urb->buffer_length, nullptr);
        if (!buffer) {
            urb->status = -EINVAL;
            return true;
        }
        uint8_t* bytes = buffer->data;
        urb->status = 0;
        urb->actual_length = 0;
        bool finished = true;
        if (urb->type == USBDEVFS_URB_TYPE_CONTROL && urb->buffer_length >= 8) {
            ++controlUrbs;
            const uint8_t type = bytes[0];
            const uint8_t request = bytes[1];
            const uint16_t value = bytes[2] | (bytes[3] << 8);
            const uint16_t index = bytes[4] | (bytes[5] << 8);
            const uint16_t length = bytes[6] | (bytes[7] << 8);
            bool ok = false;
            if (type == 0x81 && request == 0x0A && length == 1) { // GET_INTERFACE
                bytes[8] = board.AltSetting();
                ok = true;
            } else if (type & 0x80) {
                ok = board.ControlIn(type, request, value, index, bytes + 8, length);
            } else {
                ok = board.ControlOut(type, request, value, index, bytes + 8, length);
            }
            urb->status = ok ? 0 : -EPIPE;
            urb->actual_length = ok ? length : 0;
        } else if (urb->type == USBDEVFS_URB_TYPE_BULK) {
            ++bulkUrbs;
            if (urb->endpoint & 0x80) {
                size_t received = 0;
                switch (board.BulkIn(urb->endpoint, bytes, urb->buffer_length, received)) {
                case portiva::SimBoard::InResult::Data:
                    urb->actual_length = static_cast<int>(received);
                    break;
                case portiva::SimBoard::InResult::Nothing:
                    finished = false;
                    break;
                case portiva::SimBoard::InResult::Stall:
                    urb->status = -EPIPE;
                    break;
                }
            } else {
                const bool ok = board.BulkOut(urb->endpoint, bytes, urb->buffer_length);
                urb->status = ok ? 0 : -EPIPE;
                urb->actual_length = ok ? urb->buffer_length : 0;
            }
        } else {
            urb->status = -EINVAL;
        }
        umockdev_ioctl_data_unref(buffer);
        return finished;
    }
};

void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg, UMockdevIoctlData* urbData) {
    UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    umockdev_ioctl_data_set_ptr(pointer, 0, urbData);
    umockdev_ioctl_client_complete(client, 0, 0);
    umockdev_ioctl_data_unref(pointer);
    umockdev_ioctl_data_unref(urbData);
}

// Runs on a umockdev thread.
gboolean HandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    auto* usb = static_cast<UsbBoard*>(user);
    std::lock_guard<std::mutex> lock(usb->mutex);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
        *reinterpret_cast<guint32*>(caps->data) =
            USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
            USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
        umockdev_ioctl_client_complete(client, 0, 0);
        umockdev_ioctl_data_unref(caps);
        return TRUE;
    }
    case USBDEVFS_GETDRIVER: {
        if (!usb->kernelDriver) {
            umockdev_ioctl_client_complete(client, -1, ENODATA);
            return TRUE;
        }
        UMockdevIoctlData* data =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
        auto* driver = reinterpret_cast<usbdevfs_getdriver*>(data->data);
        std::strcpy(driver->driver, "usbtest");
        umockdev_ioctl_client_complete(client, 0, 0);
        umockdev_ioctl_data_unref(data);
        return TRUE;
    }
    case USBDEVFS_IOCTL: {
        UMockdevIoctlData* data =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
        const auto* command = reinterpret_cast<const usbdevfs_ioctl*>(data->data);
        const bool detach = command->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT) &&
                            command->ifno == 0 && usb->kernelDriver;
        if (detach) {
            usb->kernelDriver = false;
            ++usb->detaches;
        }
        umockdev_ioctl_client_complete(client, detach ? 0 : -1, detach ? 0 : ENODATA);
        umockdev_ioctl_data_unref(data);
        return TRUE;
    }
    case USBDEVFS_CLAIMINTERFACE:
        if (usb->kernelDriver) {
            umockdev_ioctl_client_complete(client, -1, EBUSY);
            return TRUE;
        }
        if (usb->claimedBy != client) {
            // The library holds one open file at a time: an earlier holder has closed its file,
            // whether or not umockdev has told us yet.
            if (usb->claimedBy) {
                usb->Release();
            }
            ++usb->claims;
            usb->claimedBy = client;
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    case USBDEVFS_RELEASEINTERFACE:
        if (usb->claimedBy == client) {
            usb->Release();
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    case USBDEVFS_SETINTERFACE: {
        UMockdevIoctlData* data =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_setinterface), nullptr);
        const auto* setting = reinterpret_cast<const usbdevfs_setinterface*>(data->data);
        const bool ok = usb->board.SetInterface(static_cast<uint8_t>(setting->interface),
                                                static_cast<uint8_t>(setting->altsetting));
        umockdev_ioctl_client_complete(client, ok ? 0 : -1, ok ? 0 : EINVAL);
        umockdev_ioctl_data_unref(data);
        return TRUE;
    }
    case USBDEVFS_SUBMITURB: {
        if (usb->gone) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        UMockdevIoctlData* urbData =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        if (usb->Run(urbData)) {
            usb->done.push_back(urbData);
        } else {
            usb->waiting.push_back(urbData);
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: {
        // An answer may have arrived for an IN URB submitted before its command.
        for (auto it = usb->waiting.begin(); it != usb->waiting.end();) {
            if (usb->Run(*it)) {
                usb->done.push_back(*it);
                it = usb->waiting.erase(it);
            } else {
                ++it;
            }
        }
        std::deque<UMockdevIoctlData*>* source =
            !usb->discarded.empty() ? &usb->discarded : (!usb->done.empty() ? &usb->done : nullptr);
        if (!source) {
            umockdev_ioctl_client_complete(client, -1, EAGAIN);
            return TRUE;
        }
        UMockdevIoctlData* urbData = source->front();
        source->pop_front();
        Reap(client, arg, urbData);
        return TRUE;
    }
    case USBDEVFS_DISCARDURB: {
        const gulong address = *reinterpret_cast<const gulong*>(arg->data);
        for (auto it = usb->waiting.begin(); it != usb->waiting.end(); ++it) {
            if ((*it)->client_addr == address) {
                reinterpret_cast<usbdevfs_urb*>((*it)->data)->status = -ENOENT;
                usb->discarded.push_back(*it);
                usb->waiting.erase(it);
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            }
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
    }
    default:
        ADD_FAILURE() << "unexpected usbdevfs ioctl 0x" << std::hex << request;
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }
}

// Closing the device file lets its claimed interface go as well.
void ClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    auto* usb = static_cast<UsbBoard*>(user);
    std::lock_guard<std::mutex> lock(usb->mutex);
    if (usb->claimedBy == client) {
        usb->Release();
    }
}

class UmockdevBoardTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const char* preload = std::getenv("LD_PRELOAD");
        ASSERT_TRUE(preload && std::strstr(preload, "umockdev-preload"))
            << "run this test under umockdev-wrapper";
        testbed_ = umockdev_testbed_new();
        handler_ = umockdev_ioctl_base_new();
        g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(HandleIoctl), &usb_);
        ASSERT_NE(g_signal_connect(handler_, "client-vanished", G_CALLBACK(ClientVanished), &usb_),
                  0u);
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_attach_ioctl(testbed_, kDeviceNode, handler_, &error))
            << (error ? error->message : "");
        const std::string record = std::string("P: /devices/pci0000:00/usb1/1-1\n"
                                               "N: bus/usb/001/002\n"
                                               "E: SUBSYSTEM=usb\n"
                                               "E: DEVTYPE=usb_device\n"
                                               "E: DRIVER=usb\n"
                                               "E: BUSNUM=001\n"
                                               "E: DEVNUM=002\n"
                                               "E: DEVNAME=") +
                                   kDeviceNode +
                                   "\n"
                                   "A: idVendor=04b4\\n\n"
                                   "A: idProduct=8613\\n\n"
                                   "A: busnum=1\\n\n"
                                   "A: devnum=2\\n\n"
                                   "A: speed=480\\n\n"
                                   "A: bConfigurationValue=1\\n\n"
                                   "H: descriptors=" +
                                   kDescriptors + "\n";
        ASSERT_TRUE(umockdev_testbed_add_from_string(testbed_, record.c_str(), &error))
            << (error ? error->message : "");
    }

    PortivaLibrary& lib = PortivaLibrary::Get();
    static UsbBoard usb_;
    static UMockdevTestbed* testbed_;
    static UMockdevIoctlBase* handler_;
};

UsbBoard UmockdevBoardTest::usb_;
UMockdevTestbed* UmockdevBoardTest::testbed_ = nullptr;
UMockdevIoctlBase* UmockdevBoardTest::handler_ = nullptr;

TEST_F(UmockdevBoardTest, DownloadsTheBuiltInImageAndSwitchesALine) {
    ASSERT_EQ(lib.hooks->Sim(), nullptr) << "PORTIVA_SIM must not be set here";
    std::vector<uint8_t> image;
    uint32_t size = 0;
#ifdef PORTIVA_TEST_HAVE_BUILTIN_RECORDS
    ASSERT_EQ(lib.hooks->BuiltInRecordCount(), kFirmwareRecordCount);
    ASSERT_TRUE(lib.hooks->BuildImage(kFirmwareRecords, kFirmwareRecordCount, image, size));
#else
    static const char* const kSmall[] = {":0300000002000BF0", ":00000001FF"};
    lib.hooks->SetRecordTable(kSmall, 2);
    ASSERT_TRUE(lib.hooks->BuildImage(kSmall, 2, image, size));
#endif

    EXPECT_TRUE(lib.UsbDevicePresent(0));
    EXPECT_FALSE(lib.UsbDevicePresent(1));
    ASSERT_TRUE(lib.UsbInit(0));
    EXPECT_TRUE(lib.hooks->DriverTypeIsCyUsb()) << "libusb answers the CyUSB probe first";
    {
        std::lock_guard<std::mutex> lock(usb_.mutex);
        EXPECT_TRUE(usb_.board.Running());
        EXPECT_EQ(usb_.board.AltSetting(), 1);
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + size, usb_.board.Memory().begin()));
        const auto& loads = usb_.board.Loads();
        ASSERT_EQ(loads.size(), size / 512 + 3);
        EXPECT_EQ(loads.front().address, 0xE600);
        EXPECT_EQ(loads.back().address, 0xE600);
        EXPECT_EQ(usb_.detaches, 1u) << "the kernel driver was detached before the claim";
    }
    uint8_t high = 0;
    ASSERT_TRUE(lib.UsbCheckSpeed(0, &high));
    EXPECT_EQ(high, 1);
    EXPECT_TRUE(lib.UsbDeviceInitialized(0)) << "GET_INTERFACE through libusb gives 1";

    ASSERT_TRUE(lib.UsbSetIODir(0, 13, 1));
    ASSERT_TRUE(lib.UsbSetIOState(0, 13, 1));
    uint8_t port = 0;
    ASSERT_TRUE(lib.UsbGetPortState(0, 1, &port));
    EXPECT_EQ(port, 0x20);
    ASSERT_TRUE(lib.UsbSetIOState(0, 13, 0));
    ASSERT_TRUE(lib.UsbGetPortState(0, 1, &port));
    EXPECT_EQ(port, 0x00);
    EXPECT_TRUE(lib.UsbGetStatus(0));
    EXPECT_EQ(lib.UsbGetError(), 0);
    // The library opened and claimed the board once and never let it go: a release would have
    // put it back to alternate setting 0, without the bulk endpoints.
    std::lock_guard<std::mutex> lock(usb_.mutex);
    EXPECT_EQ(usb_.board.Firmware().dir[1], 0x20);
    EXPECT_EQ(usb_.claims, 1u);
    EXPECT_EQ(usb_.releases, 0u);
    EXPECT_EQ(usb_.board.AltSetting(), 1);
}

TEST_F(UmockdevBoardTest, AnswerThatNeverComesTimesOut) {
    ASSERT_TRUE(lib.UsbInit(0));
    // An answer too long for the firmware is never sent: the bulk read times out after 500 ms,
    // libusb discards its URB and the call fails with "Usb transfer failed".
    std::vector<uint8_t> answer;
    EXPECT_FALSE(lib.hooks->Transfer(0, 3, false, 500, 70000, {}, answer));
    EXPECT_EQ(lib.UsbGetError(), 4);
    EXPECT_EQ(lib.UsbGetError(), 0);
    EXPECT_TRUE(lib.UsbSetPortState(0, 2, 0x11)) << "the board still takes commands";
    std::lock_guard<std::mutex> lock(usb_.mutex);
    EXPECT_EQ(usb_.board.Firmware().latch[2], 0x11);
}

TEST_F(UmockdevBoardTest, BoardGoneFailsTheTransfer) {
    ASSERT_TRUE(lib.UsbInit(0));
    {
        std::lock_guard<std::mutex> lock(usb_.mutex);
        usb_.gone = true;
    }
    uint8_t port = 0;
    EXPECT_FALSE(lib.UsbGetPortState(0, 1, &port));
    EXPECT_EQ(lib.UsbGetError(), 4);
    EXPECT_EQ(lib.UsbGetError(), 0);
    unsigned claims = 0;
    {
        std::lock_guard<std::mutex> lock(usb_.mutex);
        usb_.gone = false;
        claims = usb_.claims;
    }
    // The library let the vanished device go; the board back, it is opened and claimed afresh.
    ASSERT_TRUE(lib.UsbInit(0));
    ASSERT_TRUE(lib.UsbSetIODir(0, 0, 1));
    ASSERT_TRUE(lib.UsbSetIOState(0, 0, 1));
    std::lock_guard<std::mutex> lock(usb_.mutex);
    EXPECT_EQ(usb_.claims, claims + 1);
    EXPECT_EQ(usb_.board.Firmware().latch[0], 0x01);
}

TEST_F(UmockdevBoardTest, EepromWriteAndReadThroughLibusb) {
    ASSERT_TRUE(lib.UsbInit(0));
    // Three pages (11, 16 and 13 bytes), each waited for by the firmware, then one addressed
    // read of all of it.
    std::vector<uint8_t> data(40);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(0xC3 ^ (i * 37));
    }
    ASSERT_TRUE(lib.UsbEEpWriteBytes(0, 0x0005, static_cast<uint16_t>(data.size()), data.data()));
    std::vector<uint8_t> back(data.size());
    ASSERT_TRUE(lib.UsbEEpReadBytes(0, 0x0005, static_cast<uint16_t>(back.size()), back.data()));
    EXPECT_EQ(back, data);
    EXPECT_EQ(lib.UsbGetError(), 0);
    std::lock_guard<std::mutex> lock(usb_.mutex);
    const auto& eeprom = usb_.board.Eeprom();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), eeprom.begin() + 5));
    EXPECT_EQ(eeprom[4], 0xFF);
    EXPECT_EQ(eeprom[45], 0xFF);
}

// Run in a process of its own: a malformed interface GUID leaves the EzUsb probe, so the
// libusb driver gets the EzUsb driver's request blocks for the same board.
TEST_F(UmockdevBoardTest, EzUsbRequestFormatsThroughLibusb) {
    if (lib.hooks->DriverTypeFixed()) {
        GTEST_SKIP() << "needs a fresh library load";
    }
    lib.UsbSetGuid("not a guid");
    ASSERT_TRUE(lib.UsbInit(0));
    EXPECT_FALSE(lib.hooks->DriverTypeIsCyUsb());
    ASSERT_TRUE(lib.UsbSetIODir(0, 39, 1));
    ASSERT_TRUE(lib.UsbSetIOState(0, 39, 1));
    uint8_t line = 0;
    ASSERT_TRUE(lib.UsbGetIOState(0, 39, &line));
    EXPECT_EQ(line, 1);
    EXPECT_TRUE(lib.UsbDeviceInitialized(0));
    std::lock_guard<std::mutex> lock(usb_.mutex);
    EXPECT_EQ(usb_.board.Firmware().latch[4], 0x80);
}

} // namespace
