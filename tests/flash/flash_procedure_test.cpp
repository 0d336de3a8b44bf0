#include <kinetra/driver.h>
#include <kinetra/actuator.h>

#include "flash/bootloader_bus.h"
#include "kinetra_sim/hex_image.h"
#include "support/scripted_device.h"
#include "support/wait.h"

#include "devices/protocol/bootloader_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>

namespace kinetra::test {
namespace {

using namespace std::chrono_literals;
using sim::BootFault;
using sim::BootStep;
namespace boot = protocol::bootloader;

constexpr uint32_t kNode = 7;
constexpr uint8_t kDriverType = 1;

// Two records: 16 bytes at the flash's start and 20 at 0x08000010.
const std::vector<uint8_t> kFirst = [] {
    std::vector<uint8_t> b(16);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(0x10 + i);
    return b;
}();
const std::vector<uint8_t> kSecond = [] {
    std::vector<uint8_t> b(20);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(0xA0 + i);
    return b;
}();

std::string imageText() {
    return sim::intelHexRecord(4, 0, {0x08, 0x00}) + sim::intelHexRecord(0, 0x0000, kFirst) +
           sim::intelHexRecord(0, 0x0010, kSecond) + ":00000001FF\n";
}

std::string render(const BootloaderBus::Event& e) {
    std::ostringstream out;
    if (e.is_rate) {
        out << "rate " << e.rate;
        return out.str();
    }
    out << std::hex << e.frame.can_id << ":";
    for (int i = 0; i < e.frame.can_dlc; ++i) out << " " << int(e.frame.data[i]);
    return out.str();
}

class FlashProcedureTest : public ::testing::Test {
protected:
    void start(bool in_bootloader, bool present = true) {
        bus = std::make_unique<BootloaderBus>(clock, in_bootloader);
        ASSERT_TRUE(bus->initInterface("mem"));
        ASSERT_TRUE(eventually([&] { return bus->isRunning(); }));
        if (present) {
            device = std::make_unique<ScriptedDevice>(*bus, kNode, kDriverType);
            ASSERT_TRUE(eventually([&] { return bus->isDeviceConnected(kNode); }));
        }
        driver = std::make_unique<Driver>(kNode, bus.get());
        driver->setOutputLogStream(&log);
    }
    void TearDown() override {
        driver.reset();
        device.reset();
        bus.reset();
        std::remove(path.c_str());
    }
    void writeFile(const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    ret_status_t flash(bool already_in_dfu, FlashOptions options = {}) {
        options.clock = &clock;
        return driver->flash(path, already_in_dfu, options);
    }
    std::vector<std::string> rendered() {
        std::vector<std::string> out;
        for (const auto& e : bus->events()) out.push_back(render(e));
        return out;
    }
    bool logHasInOrder(const std::vector<std::string>& lines) {
        const std::string text = log.str();
        std::size_t at = 0;
        for (const auto& line : lines) {
            at = text.find(line + "\n", at);
            if (at == std::string::npos) {
                ADD_FAILURE() << "missing in order: " << line;
                return false;
            }
        }
        return true;
    }
    std::vector<uint8_t> flashed(uint32_t address, std::size_t n) {
        return bus->withModel([&](sim::BootloaderModel& m) { return m.read(address, n); });
    }
    void inject(BootStep step, BootFault fault) {
        bus->withModel([&](sim::BootloaderModel& m) {
            m.inject(step, fault);
            return 0;
        });
    }

    // Long enough that a loaded machine still delivers every scripted reply within it;
    // only the waits meant to expire (the probe for a synchronised bootloader) cost it.
    ManualClock clock{100ms};
    std::unique_ptr<BootloaderBus> bus;
    std::unique_ptr<ScriptedDevice> device;
    std::unique_ptr<Driver> driver;
    std::ostringstream log;
    std::string path = [] {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        return ::testing::TempDir() + "kinetra_flash_" + name + ".hex";
    }();
};

TEST_F(FlashProcedureTest, SendsTheExactFrameSequenceAndTheImageLands) {
    start(false);
    writeFile(imageText());
    std::vector<FlashProgress> progress;
    FlashOptions options;
    options.progress = [&](const FlashProgress& p) { progress.push_back(p); };
    ASSERT_EQ(flash(false, options), RET_OK);

    std::vector<std::string> expected{"800003ff:", "rate 4", "79:", "3: 3", "rate 6"};
    for (int s = 0; s < 10; ++s) {
        expected.push_back("43: 0");
        expected.push_back("43: " + std::to_string(s));
    }
    expected.insert(expected.end(), {"31: 8 0 0 0 f", "4: 10 11 12 13 14 15 16 17", "4: 18 19 1a 1b 1c 1d 1e 1f",
                                     "31: 8 0 0 10 13", "4: a0 a1 a2 a3 a4 a5 a6 a7",
                                     "4: a8 a9 aa ab ac ad ae af", "4: b0 b1 b2 b3", "21: 8 0 0 0", "rate 6"});
    EXPECT_EQ(rendered(), expected);
    EXPECT_EQ(clock.sleeps(), (std::vector<ProcedureClock::clock::duration>{2s, 2s, 1s, 2s, 1ms, 1ms, 1ms, 1ms, 1ms,
                                                                             1ms, 1ms, 1ms, 1ms, 1ms}));
    EXPECT_TRUE(clock.expiredWaits().empty());
    EXPECT_EQ(flashed(0x08000000, 16), kFirst);
    EXPECT_EQ(flashed(0x08000010, 20), kSecond);
    EXPECT_FALSE(bus->flash_mode.load());
    EXPECT_TRUE(logHasInOrder({"[FLASH] Loading firmware file", "[FLASH] Loading done", "Entering DFU Mode",
                               "Changing Baud rate to 125K", "Sending standard ID",
                               "[FLASH] Initialisation Successfull", "Changing Baud Rate to 1M",
                               "[FLASH] Change Speed command successfull.", "[FLASH] ACK received at new speed.",
                               "Erasing", "[FLASH] Erasing sector 9 successful.", "[FLASH] Address:8000010",
                               "[FLASH] Data Size:20", "[FLASH] Memory address:8000010 is OK.",
                               "[FLASH] [outside loop] Flashing at this memory address successfull.",
                               "[FLASH] Writing to memory address successfull.",
                               "[FLASH] Memory write error count:0", "[FLASH] Go command successfull."}));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().stage, FlashStage::Starting);
    EXPECT_EQ(progress.back().done, 1u);
    bool writes_total = false;
    for (const auto& p : progress) writes_total |= p.stage == FlashStage::Writing && p.done == 36 && p.total == 36;
    EXPECT_TRUE(writes_total);
}

TEST_F(FlashProcedureTest, AlreadyInBootloaderLooksAtTheUpdateRateFirstThenSynchronisesAt125k) {
    start(true, false);  // a device in its bootloader sends no heartbeats
    writeFile(imageText());
    ASSERT_EQ(flash(true), RET_OK);
    const auto events = bus->events();
    ASSERT_GE(events.size(), 4u);
    // A freshly started bootloader does not hear the look at 500 kbit/s.
    EXPECT_EQ(render(events[0]), "rate 6");
    EXPECT_EQ(render(events[1]), "79:");
    EXPECT_EQ(render(events[2]), "rate 4");
    EXPECT_EQ(render(events[3]), "79:");
    EXPECT_EQ(events[3].at - events[2].at, 2s);
    EXPECT_EQ(flashed(0x08000010, 20), kSecond);
}

struct FailureCase {
    const char* name;
    BootStep step;
    BootFault fault;
    ret_status_t status;
    const char* message;
    const char* report;  // the start of FlashOptions' failure report
    bool left_at_update_rate;  // where the retry finds the bootloader
};

class FlashFailureTest : public FlashProcedureTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FlashFailureTest, EndsWithItsStatusAndARetryFromTheBootloaderSucceeds) {
    const FailureCase& c = GetParam();
    start(false);
    writeFile(imageText());
    inject(c.step, c.fault);
    std::string failure = "stale";
    FlashOptions options;
    options.failure = &failure;
    EXPECT_EQ(flash(false, options), c.status);
    EXPECT_EQ(failure.rfind(c.report, 0), 0u) << failure;
    EXPECT_EQ(bus->lastBaudRate(), CAN_BAUD_500K);
    EXPECT_EQ(render(bus->events().back()), "rate 6");
    EXPECT_TRUE(bus->flash_mode.load()) << "flash mode stays set until an update succeeds";
    EXPECT_NE(log.str().find(std::string(c.message) + "\n"), std::string::npos) << log.str();
    if (c.step != BootStep::Go) {
        for (const auto& line : rendered()) EXPECT_NE(line.rfind("21:", 0), 0u) << "no Go after a failure";
    }
    if (c.status == RET_TIMEOUT) {
        EXPECT_EQ(clock.expiredWaits(), std::vector<ProcedureClock::clock::duration>{20s});
    }
    // The device is still in its bootloader: a retry that skips the entry finds
    // it at the rate the failure left it at, and succeeds.
    log.str("");
    const std::size_t before = bus->events().size();
    ASSERT_EQ(flash(true, options), RET_OK) << log.str();
    EXPECT_TRUE(failure.empty()) << failure;
    const auto events = bus->events();
    const bool restarted_at_125k =
        std::any_of(events.begin() + static_cast<std::ptrdiff_t>(before), events.end(),
                    [](const BootloaderBus::Event& e) { return e.is_rate && e.rate == CAN_BAUD_125K; });
    EXPECT_EQ(restarted_at_125k, !c.left_at_update_rate);
    EXPECT_EQ(flashed(0x08000000, 16), kFirst);
    EXPECT_EQ(flashed(0x08000010, 20), kSecond);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, FlashFailureTest,
    ::testing::Values(
        FailureCase{"sync_silent", BootStep::Synchronise, BootFault::Silent, RET_TIMEOUT,
                    "[FLASH] Initialise failed after DFU.2", "synchronise: no reply", false},
        FailureCase{"sync_refused", BootStep::Synchronise, BootFault::Refuse, RET_NOT_CONNECTED,
                    "[FLASH] Initialise failed after DFU.0", "synchronise: refused by the bootloader (0x1F)", false},
        FailureCase{"speed_refused", BootStep::ChangeSpeed, BootFault::Refuse, RET_NOT_CONNECTED,
                    "[FLASH] Change Speed command failed.", "change speed: refused", false},
        FailureCase{"new_speed_refused", BootStep::ChangeSpeed, BootFault::RefuseFinal, RET_NOT_CONNECTED,
                    "[FLASH] ACK receive at new speed failed.0:31", "change speed, acknowledge at the new rate", true},
        FailureCase{"erase_silent", BootStep::Erase, BootFault::Silent, RET_TIMEOUT,
                    "[FLASH] Erasing for sector 0 failed.", "erase of sector 0: no reply", false},
        FailureCase{"erase_not_done", BootStep::Erase, BootFault::RefuseFinal, RET_NOT_CONNECTED,
                    "[FLASH] Erasing sector 0 failed.", "erase of sector 0: refused", true},
        FailureCase{"write_refused", BootStep::Write, BootFault::Refuse, RET_NOT_CONNECTED,
                    "[FLASH] Memory address:8000000 is not OK. 0", "write at 0x8000000: refused", true},
        FailureCase{"write_ack_dropped", BootStep::Write, BootFault::DropAck, RET_TIMEOUT,
                    "[FLASH] Memory address:8000000 is not OK. 2", "write at 0x8000000: no reply", true},
        FailureCase{"write_silent", BootStep::Write, BootFault::Silent, RET_TIMEOUT,
                    "[FLASH] Memory address:8000000 is not OK. 2", "write at 0x8000000: no reply", false},
        FailureCase{"reboot_mid_write", BootStep::Write, BootFault::RebootMidWrite, RET_TIMEOUT,
                    "[FLASH] [in loop] Flashing at this memory address failed.2", "write at 0x8000000: no reply",
                    false},
        FailureCase{"go_refused", BootStep::Go, BootFault::Refuse, RET_NOT_CONNECTED, "[FLASH] Go command failed.",
                    "go: refused", true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// Stopped in the middle of a block, the bootloader waits for the rest of it at
// the update's rate; the retry synchronises it there, which abandons the write.
TEST_F(FlashProcedureTest, RetryAfterAStopMidWriteSucceeds) {
    start(false);
    writeFile(imageText());
    std::atomic<bool> cancel{false};
    std::string failure;
    FlashOptions options;
    options.cancel = &cancel;
    options.failure = &failure;
    options.progress = [&](const FlashProgress& p) {
        if (p.stage == FlashStage::Writing && p.done == 8) cancel = true;
    };
    ASSERT_EQ(flash(false, options), RET_NOT_RUNNING);
    EXPECT_EQ(failure, "stopped on request");
    EXPECT_EQ(flashed(0x08000000, 16), std::vector<uint8_t>(16, 0xFF)) << "half a block is not programmed";
    cancel = false;
    options.progress = nullptr;
    ASSERT_EQ(flash(true, options), RET_OK) << log.str();
    EXPECT_EQ(flashed(0x08000000, 16), kFirst);
    EXPECT_NE(log.str().find("[FLASH] Bootloader answered at 500K.\n"), std::string::npos) << log.str();
}

// The adapter going away ends the reply wait at once, with the adapter's status.
TEST_F(FlashProcedureTest, AdapterGoneEndsTheUpdateWithoutWaitingOutTheBound) {
    start(false);
    writeFile(imageText());
    std::string failure;
    FlashOptions options;
    options.failure = &failure;
    options.progress = [&](const FlashProgress& p) {
        if (p.stage == FlashStage::Erasing && p.done == 1) bus->setSendFails(true);
    };
    EXPECT_EQ(flash(false, options), RET_NOT_RUNNING);
    EXPECT_TRUE(clock.expiredWaits().empty()) << "no wait ran to its bound";
    EXPECT_EQ(failure, "erase of sector 1: the adapter is gone");
    EXPECT_NE(log.str().find("[FLASH] The adapter is gone.\n"), std::string::npos);
}

// Every reply the update waits for is matched by its identifier and judged by
// its first byte. One reply at a time is misaddressed (another step's id, or a
// device-protocol frame carrying the same bits), refused, or empty; a reply the
// update took although it was not its own shows as a status or a wait that differs.
TEST_F(FlashProcedureTest, EveryAwaitedReplyIsCheckedForItsIdAndItsAcknowledge) {
    struct Stage {
        const char* name;
        uint32_t id;
        int nth;  // which reply of that id, counted from 0 over the whole update
        ret_status_t misaddressed;
        std::size_t misaddressed_waits;  // reply waits that ran to their 20 s bound
        ret_status_t refused;
    };
    constexpr ret_status_t kTimeout = RET_TIMEOUT;
    constexpr ret_status_t kNo = RET_NOT_CONNECTED;
    // The image has a block of two data frames and one of three; the update verifies.
    const Stage stages[] = {
        {"synchronise", 0x79, 0, kTimeout, 1, kNo},
        {"change speed", 0x03, 0, kTimeout, 1, kNo},  // the next acknowledge stands in, then none comes
        {"acknowledge at the new speed", 0x03, 1, kTimeout, 1, kNo},
        {"erase announcement", 0x43, 0, kTimeout, 1, kNo},
        {"erase sector number", 0x43, 1, kTimeout, 1, kNo},
        {"sector erased", 0x43, 2, kTimeout, 1, kNo},
        {"last sector erased", 0x43, 29, kTimeout, 1, kNo},
        {"write address", 0x31, 0, kTimeout, 1, kNo},
        {"write data", 0x31, 1, kTimeout, 1, kNo},
        // The finish stands in for the last data acknowledge; its own wait runs out
        // and counts as a write error, and the update goes on.
        {"a block's last data", 0x31, 7, RET_OK, 1, kNo},
        {"write finished", 0x31, 3, RET_OK, 1, RET_OK},  // a write error too
        {"read address", 0x11, 0, kNo, 0, kNo},          // the data frame behind it is no acknowledge
        {"read data", 0x11, 1, kNo, 0, kNo},             // the next data frame is compared instead
        {"read finished", 0x11, 3, kTimeout, 1, kNo},
        {"go", 0x21, 0, kTimeout, 1, kNo},
    };
    struct Fault {
        const char* name;
        bool misaddressed;
        std::function<void(can_frame_data&)> apply;
    };
    const Fault faults[] = {
        {"another step's id", true, [](can_frame_data& f) { f.can_id = f.can_id == 0x79 ? 0x43 : 0x79; }},
        {"an extended id", true, [](can_frame_data& f) { f.can_id |= 0x80000000u; }},
        {"a refusal", false, [](can_frame_data& f) { f.data[0] = 0x1F; }},
        {"no data", false, [](can_frame_data& f) { f.can_dlc = 0; }},
    };
    writeFile(imageText());
    start(true, false);
    // Each update first looks for the restarted bootloader at 500 kbit/s, in vain:
    // only the waits of the steps themselves count.
    const auto fullWaits = [&] {
        const auto waits = clock.expiredWaits();
        return static_cast<std::size_t>(std::count(waits.begin(), waits.end(), 20s));
    };
    int seen = 0;
    for (const Stage& stage : stages) {
        for (const Fault& fault : faults) {
            SCOPED_TRACE(std::string(stage.name) + " answered with " + fault.name);
            bus->restartBootloader();
            seen = 0;
            bus->setReplyRewrite([&](can_frame_data& reply) {
                if (reply.can_id == stage.id && seen++ == stage.nth) fault.apply(reply);
            });
            const std::size_t waits_before = fullWaits();
            FlashOptions options;
            options.verify = true;
            EXPECT_EQ(flash(true, options), fault.misaddressed ? stage.misaddressed : stage.refused);
            EXPECT_EQ(fullWaits() - waits_before, fault.misaddressed ? stage.misaddressed_waits : 0u);
            EXPECT_GT(seen, stage.nth) << "the stage was reached";
        }
    }
    bus->setReplyRewrite({});
}

TEST_F(FlashProcedureTest, RefusedWriteFinishIsCountedAndTheFlashStillSucceeds) {
    start(false);
    writeFile(imageText());
    inject(BootStep::Write, BootFault::RefuseFinal);
    EXPECT_EQ(flash(false), RET_OK);
    EXPECT_TRUE(logHasInOrder({"[FLASH] Writing to memory address failed.0:1f",
                               "[FLASH] Writing to memory address successfull.", "[FLASH] Memory write error count:1",
                               "[FLASH] Go command successfull."}));
    EXPECT_EQ(flashed(0x08000010, 20), kSecond) << "the next block is still written";
}

struct BadFileCase {
    const char* name;
    std::string text;
    bool write;  // false: the file does not exist
    ret_status_t status;
    const char* why;  // in the log's refusal and in FlashOptions' report
};

class FlashBadFileTest : public FlashProcedureTest, public ::testing::WithParamInterface<BadFileCase> {};

TEST_P(FlashBadFileTest, IsRefusedBeforeTheBusIsTouchedNamingWhatIsWrong) {
    const BadFileCase& c = GetParam();
    start(false);
    if (c.write) writeFile(c.text);
    std::string failure;
    FlashOptions options;
    options.failure = &failure;
    EXPECT_EQ(flash(false, options), c.status);
    EXPECT_TRUE(bus->events().empty()) << "nothing sent, the adapter's rate untouched";
    EXPECT_FALSE(bus->flash_mode.load());
    EXPECT_EQ(failure, std::string("firmware file: ") + c.why);
    const std::string refusal = std::string("[FLASH] Refusing firmware file: ") + c.why + ".";
    if (c.status == RET_NOT_INITIALISED) {
        EXPECT_TRUE(logHasInOrder({"[FLASH] Loading firmware file", "[FLASH] Loading done",
                                   "[FLASH] Invalid Flash File. Please check path/file.", refusal}));
    } else {
        EXPECT_TRUE(logHasInOrder({"[FLASH] Loading firmware file", "[FLASH] Loading done", refusal}));
    }
}

const std::string kLinear = sim::intelHexRecord(4, 0, {0x08, 0x00});
const std::string kEndRecord = ":00000001FF\n";
INSTANTIATE_TEST_SUITE_P(
    Files, FlashBadFileTest,
    ::testing::Values(
        BadFileCase{"missing", "", false, RET_NOT_INITIALISED, "the file cannot be opened"},
        BadFileCase{"empty", "", true, RET_NOT_INITIALISED, "line 1: the file is empty"},
        BadFileCase{"binary", std::string("\x7F" "ELF\x02\x01\x01\x00", 8), true, RET_NOT_INITIALISED,
                    "line 1: the line does not start with ':'"},
        BadFileCase{"type_06_first", sim::intelHexRecord(6, 0, {0}) + kEndRecord, true, RET_NOT_INITIALISED,
                    "line 1: record type 06 is not one of 00 to 05"},
        BadFileCase{"no_end_record", kLinear + sim::intelHexRecord(0, 0, kFirst), true, RET_INVALID_ARGUMENT,
                    "line 2: the file ends after this line without an end-of-file record (type 01)"},
        BadFileCase{"cut_off", kLinear + sim::intelHexRecord(0, 0, kFirst) + ":1000100001", true,
                    RET_INVALID_ARGUMENT, "line 3: the file ends inside this record (10 of its 42 hex digits)"},
        BadFileCase{"corrupted", kLinear + sim::intelHexRecord(0, 0, kFirst) + ":0100100000FF\n" + kEndRecord, true,
                    RET_INVALID_ARGUMENT, "line 3: bad checksum (the record's bytes add up to 0x10, not 0)"},
        BadFileCase{"type_FF", kLinear + sim::intelHexRecord(0, 0, kFirst) + sim::intelHexRecord(0xFF, 0, {1}) +
                                   kEndRecord,
                    true, RET_INVALID_ARGUMENT, "line 3: record type FF is not one of 00 to 05"},
        BadFileCase{"overlap", kLinear + sim::intelHexRecord(0, 0, kFirst) + sim::intelHexRecord(0, 8, kSecond) +
                                   kEndRecord,
                    true, RET_INVALID_ARGUMENT,
                    "line 3: data at 0x08000008 overlaps an earlier record with a different byte (0xA0, was 0x18)"},
        BadFileCase{"malformed_base", sim::intelHexRecord(4, 0, {0x08}) + sim::intelHexRecord(0, 0, kFirst) +
                                          kEndRecord,
                    true, RET_NOT_INITIALISED,
                    "line 1: malformed extended linear address record (type 04): count 01 and address 0000, "
                    "expected count 02 and address 0000"},
        BadFileCase{"past_the_erased_sectors",
                    sim::intelHexRecord(4, 0, {0x08, 0x0C}) + sim::intelHexRecord(0, 0, {1}) + kEndRecord, true,
                    RET_INVALID_ARGUMENT, "data at 0x80c0000 lies outside the flash that is erased"},
        BadFileCase{"straddling_the_end",
                    sim::intelHexRecord(4, 0, {0x08, 0x0B}) + sim::intelHexRecord(0, 0xFFFE, {1, 2, 3}) + kEndRecord,
                    true, RET_INVALID_ARGUMENT, "data at 0x80bfffe lies outside the flash that is erased"},
        BadFileCase{"below_the_flash", sim::intelHexRecord(0, 0, {1}) + kEndRecord, true, RET_INVALID_ARGUMENT,
                    "data at 0x0 lies outside the flash that is erased"}),
    [](const ::testing::TestParamInfo<BadFileCase>& info) { return std::string(info.param.name); });

// Images that end exactly where the erased sectors end, or start exactly at the
// flash's start, are flashed: the bounds are not off by one.
TEST_F(FlashProcedureTest, ImagesTouchingTheBoundsOfTheErasedFlashAreFlashed) {
    start(true, false);
    const std::string at_the_end = std::string(KINETRA_TEST_DATA_DIR) + "/srec_cat_erased_end.hex";
    std::ifstream in(at_the_end, std::ios::binary);
    writeFile(std::string(std::istreambuf_iterator<char>(in), {}));
    ASSERT_EQ(flash(true), RET_OK) << log.str();
    const std::vector<uint8_t> last = flashed(boot::kErasedEnd - 1, 1);
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0], static_cast<uint8_t>(255 * 31 + 7));
    bus->restartBootloader();
    writeFile(kLinear + sim::intelHexRecord(0, 0, {0x5A}) + kEndRecord);
    ASSERT_EQ(flash(true), RET_OK) << log.str();
    EXPECT_EQ(flashed(boot::kFlashBase, 1), std::vector<uint8_t>{0x5A});
}

TEST_F(FlashProcedureTest, ChecksComeFirstUnlessTheDeviceIsInItsBootloader) {
    start(false, false);
    writeFile(imageText());
    EXPECT_EQ(flash(false), RET_NOT_CONNECTED);
    EXPECT_TRUE(bus->events().empty());
    bus->setSendFails(true);
    can_frame_data probe{};
    bus->sendFrame(&probe);
    EXPECT_EQ(flash(false), RET_NOT_RUNNING);
    EXPECT_TRUE(log.str().empty()) << "the checks precede loading";
}

TEST_F(FlashProcedureTest, VerifyCatchesACorruptedByteAndSkipsGo) {
    start(false);
    writeFile(imageText());
    inject(BootStep::Write, BootFault::CorruptByte);
    FlashOptions options;
    options.verify = true;
    EXPECT_EQ(flash(false, options), RET_NOT_CONNECTED);
    EXPECT_NE(log.str().find("[FLASH] Verify failed at address 0x8000000: wrote 0x10, read 0x11.\n"), std::string::npos)
        << log.str();
    for (const auto& line : rendered()) EXPECT_NE(line.rfind("21:", 0), 0u);
    EXPECT_EQ(bus->lastBaudRate(), CAN_BAUD_500K);
}

TEST_F(FlashProcedureTest, VerifyReadsEveryBlockBackBeforeGo) {
    start(true, false);
    writeFile(imageText());
    FlashOptions options;
    options.verify = true;
    EXPECT_EQ(flash(true, options), RET_OK);
    const auto lines = rendered();
    const auto read_first = std::find(lines.begin(), lines.end(), "11: 8 0 0 0 f");
    const auto read_second = std::find(lines.begin(), lines.end(), "11: 8 0 0 10 13");
    const auto go = std::find(lines.begin(), lines.end(), "21: 8 0 0 0");
    EXPECT_TRUE(read_first < read_second && read_second < go && go != lines.end());
    EXPECT_NE(log.str().find("[FLASH] Verify successful.\n"), std::string::npos);
}

TEST_F(FlashProcedureTest, CancelEndsThroughTheFailureExit) {
    start(true, false);
    writeFile(imageText());
    std::atomic<bool> cancel{false};
    FlashOptions options;
    options.cancel = &cancel;
    options.progress = [&](const FlashProgress& p) {
        if (p.stage == FlashStage::Erasing && p.done == 3) cancel = true;
    };
    EXPECT_EQ(flash(true, options), RET_NOT_RUNNING);
    const auto lines = rendered();
    // Sector 0's own frame reads like an announcement: three announcements and it.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "43: 0"), 4);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "43: 3"), 0);
    EXPECT_EQ(lines.back(), "rate 6");
    EXPECT_NE(log.str().find("[FLASH] Cancelled.\n"), std::string::npos);
}

// Fault: a reply wait ignored the cancel flag, so a silent bootloader held the
// caller for the whole 20 s bound after it asked to stop.
struct WaitCancelCase {
    const char* name;
    BootStep silent;     // the step the bootloader does not answer
    bool fault;          // whether it is silent at all (else it answers, too late)
    uint32_t sent_id;    // the cancel comes in the wait after this frame ...
    int nth;             // ... the nth such wait
    bool verify;
    FlashStep stopped_at;
    uint32_t address;
    bool in_bootloader;
    bool go_sent;
};

// Sets the cancel flag as the chosen reply wait begins.
class CancelInWaitClock final : public ProcedureClock {
public:
    CancelInWaitClock(ManualClock& inner, std::atomic<bool>& cancel, std::function<bool()> trip)
        : inner_(inner), cancel_(cancel), trip_(std::move(trip)) {}
    clock::time_point now() override { return inner_.now(); }
    void sleepFor(clock::duration duration) override { inner_.sleepFor(duration); }
    clock::duration replyWait(clock::duration bound) override {
        if (trip_()) cancel_ = true;
        return inner_.replyWait(bound);
    }
    void replyWaitExpired(clock::duration bound) override { inner_.replyWaitExpired(bound); }

private:
    ManualClock& inner_;
    std::atomic<bool>& cancel_;
    std::function<bool()> trip_;
};

class FlashWaitCancelTest : public FlashProcedureTest, public ::testing::WithParamInterface<WaitCancelCase> {};

TEST_P(FlashWaitCancelTest, EndsCancelledAndTheDeviceIsWhereTheResultSays) {
    const WaitCancelCase& c = GetParam();
    start(false);
    writeFile(imageText());
    if (c.fault) inject(c.silent, BootFault::Silent);
    std::atomic<bool> cancel{false};
    int seen = 0;
    CancelInWaitClock cancelling(clock, cancel, [&] {
        const auto events = bus->events();
        return !events.empty() && !events.back().is_rate && events.back().frame.can_id == c.sent_id &&
               ++seen == c.nth;
    });
    FlashResult result;
    FlashOptions options;
    options.cancel = &cancel;
    options.result = &result;
    options.verify = c.verify;
    options.clock = &cancelling;
    EXPECT_EQ(driver->flash(path, false, options), RET_NOT_RUNNING);
    EXPECT_EQ(result.reason, FlashFailure::Cancelled) << result.text;
    EXPECT_EQ(result.step, c.stopped_at);
    EXPECT_EQ(c.stopped_at == FlashStep::Erase ? result.sector : result.address, c.address);
    EXPECT_EQ(result.in_bootloader, c.in_bootloader);
    EXPECT_EQ(result.text, "stopped on request");
    EXPECT_TRUE(clock.expiredWaits().empty()) << "no wait ran to its bound";
    EXPECT_EQ(render(bus->events().back()), "rate 6");
    const auto lines = rendered();
    const bool go = std::any_of(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("21:", 0) == 0; });
    EXPECT_EQ(go, c.go_sent);
    EXPECT_NE(log.str().find("[FLASH] Cancelled.\n"), std::string::npos) << log.str();
    // Stopped in a defined state: a restart from the bootloader finishes the update.
    cancel = false;
    options.result = nullptr;
    options.clock = &clock;
    ASSERT_EQ(flash(true, options), RET_OK) << log.str();
    EXPECT_EQ(flashed(0x08000010, 20), kSecond);
}

INSTANTIATE_TEST_SUITE_P(
    Waits, FlashWaitCancelTest,
    ::testing::Values(
        WaitCancelCase{"sync", BootStep::Synchronise, true, boot::kSynchronise, 1, false, FlashStep::Synchronise, 0,
                       false, false},
        WaitCancelCase{"speed", BootStep::ChangeSpeed, true, boot::kChangeSpeed, 1, false, FlashStep::SpeedChange, 0,
                       true, false},
        WaitCancelCase{"erase", BootStep::Erase, true, boot::kErase, 1, false, FlashStep::Erase, 0, true, false},
        WaitCancelCase{"write", BootStep::Write, true, boot::kWriteMemory, 1, false, FlashStep::Write, 0x08000000,
                       true, false},
        // The last block's write-finished wait: no Go follows, the device waits.
        WaitCancelCase{"write_finish", BootStep::Write, false, boot::kWriteData, 7, false, FlashStep::Write,
                       0x08000010, true, false},
        WaitCancelCase{"verify", BootStep::Read, true, boot::kReadMemory, 1, true, FlashStep::Verify, 0x08000000, true,
                       false},
        // Go went out: the device may run its new firmware.
        WaitCancelCase{"go", BootStep::Go, true, boot::kGo, 1, false, FlashStep::Go, 0, false, true}),
    [](const ::testing::TestParamInfo<WaitCancelCase>& info) { return std::string(info.param.name); });

TEST_F(FlashProcedureTest, ActuatorRunsTheSameProcedure) {
    start(true, false);
    writeFile(imageText());
    Actuator actuator(kNode + 1, bus.get());
    FlashOptions options;
    options.clock = &clock;
    EXPECT_EQ(actuator.flash(path, true, options), RET_OK);
    EXPECT_EQ(flashed(0x08000010, 20), kSecond);
}
// ---- The result names the step, the reason and whether the device waits in
// its bootloader.

struct ResultCase {
    const char* name;
    BootStep step;
    BootFault fault;
    FlashStep stopped_at;
    FlashFailure reason;
    uint32_t sector_or_address;
    bool in_bootloader;
};

class FlashResultTest : public FlashProcedureTest, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(FlashResultTest, NamesTheStepTheReasonAndWhereTheDeviceIs) {
    const ResultCase& c = GetParam();
    start(false);
    writeFile(imageText());
    inject(c.step, c.fault);
    std::string failure;
    FlashResult result;
    result.text = "stale";
    FlashOptions options;
    options.failure = &failure;
    options.result = &result;
    options.verify = c.stopped_at == FlashStep::Verify;
    EXPECT_NE(flash(false, options), RET_OK);
    EXPECT_EQ(result.step, c.stopped_at);
    EXPECT_EQ(result.reason, c.reason);
    EXPECT_EQ(c.stopped_at == FlashStep::Erase ? result.sector : result.address, c.sector_or_address);
    EXPECT_EQ(result.in_bootloader, c.in_bootloader);
    EXPECT_EQ(result.text, failure);
    if (c.reason == FlashFailure::Refused) {
        EXPECT_NE(result.reply_byte, 0u);
    }
    // A success leaves nothing of the failure behind.
    options.verify = false;
    ASSERT_EQ(flash(true, options), RET_OK);
    EXPECT_EQ(result.reason, FlashFailure::None);
    EXPECT_EQ(result.step, FlashStep::None);
    EXPECT_TRUE(result.text.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, FlashResultTest,
    ::testing::Values(
        ResultCase{"sync_silent", BootStep::Synchronise, BootFault::Silent, FlashStep::Synchronise,
                   FlashFailure::NoReply, 0, false},
        ResultCase{"sync_refused", BootStep::Synchronise, BootFault::Refuse, FlashStep::Synchronise,
                   FlashFailure::Refused, 0, true},
        ResultCase{"speed_refused", BootStep::ChangeSpeed, BootFault::Refuse, FlashStep::SpeedChange,
                   FlashFailure::Refused, 0, true},
        ResultCase{"erase_silent", BootStep::Erase, BootFault::Silent, FlashStep::Erase, FlashFailure::NoReply, 0,
                   true},
        ResultCase{"write_refused", BootStep::Write, BootFault::Refuse, FlashStep::Write, FlashFailure::Refused,
                   0x08000000, true},
        ResultCase{"verify_differs", BootStep::Write, BootFault::CorruptByte, FlashStep::Verify,
                   FlashFailure::Differs, 0x08000000, true},
        ResultCase{"go_refused", BootStep::Go, BootFault::Refuse, FlashStep::Go, FlashFailure::Refused, 0, true}),
    [](const ::testing::TestParamInfo<ResultCase>& info) { return std::string(info.param.name); });

TEST_F(FlashProcedureTest, ResultOfChecksFilesAndCancelling) {
    FlashResult result;
    FlashOptions options;
    options.result = &result;
    start(false, false);
    writeFile(imageText());
    EXPECT_EQ(flash(false, options), RET_NOT_CONNECTED);
    EXPECT_EQ(result.step, FlashStep::Checks);
    EXPECT_EQ(result.reason, FlashFailure::NodeAbsent);
    EXPECT_FALSE(result.in_bootloader);

    // A device said to be in its bootloader stays there when its file is refused.
    writeFile(sim::intelHexRecord(4, 0, {0x08, 0x00}) + sim::intelHexRecord(0, 0, kFirst) + ":0100100000FF\n" +
              ":00000001FF\n");
    EXPECT_EQ(flash(true, options), RET_INVALID_ARGUMENT);
    EXPECT_EQ(result.step, FlashStep::File);
    EXPECT_EQ(result.reason, FlashFailure::FileProblem);
    EXPECT_EQ(result.file_line, 3u);
    EXPECT_TRUE(result.in_bootloader);

    writeFile(imageText());
    std::atomic<bool> cancel{true};
    options.cancel = &cancel;
    EXPECT_EQ(flash(true, options), RET_NOT_RUNNING);
    EXPECT_EQ(result.reason, FlashFailure::Cancelled);
    EXPECT_TRUE(result.in_bootloader);
}

}  // namespace
}  // namespace kinetra::test
