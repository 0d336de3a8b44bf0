#include "serial/serial_win.h"

#include "serial/serial_timeouts.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <set>
#include <stdexcept>
#include <system_error>

namespace serial {

namespace {

/// The file named in every IOException of this implementation.
constexpr const char* kSourceFile = "src/serial/serial_win.cpp";

/// Bytes asked of the port per read at most: many SLCAN lines per call when they stream.
constexpr DWORD kReadChunk = 4096;

/// How long a cancelled transfer may take to end. Drivers end one at once (Wine
/// in well under a millisecond); past this the port is reported as failed
/// rather than waited on for ever.
constexpr DWORD kCancelGraceMs = 2000;

/// Read interval time-out in milliseconds. Reads ask the port only for bytes that
/// are there (or for one byte while waiting), and the total time-outs stay 0, so
/// the read itself waits for the first byte and the bounded wait around it
/// enforces this library's time-out. Windows and Wine agree on exactly this
/// combination: with total time-outs set, Wine never times out a
/// (MAXDWORD, MAXDWORD, C) read and ends a timed-out read with ERROR_TIMEOUT
/// instead of a short count, and (MAXDWORD, 0, 0) returns at once on Windows but
/// waits for the first byte on Wine. The short interval only ends a read early
/// should the queue have held fewer bytes than it reported.
constexpr DWORD kReadIntervalMs = 1;

/// The error a transfer cancelled with CancelIoEx ends with.
constexpr DWORD kAborted = ERROR_OPERATION_ABORTED;  // 995
/// The error Wine ends a pending transfer with when its handle is closed under it
/// (Windows reports 995 for that too).
constexpr DWORD kWineAbortedByClose = 676;

/// "<description>: <error>", the way every message carrying a system error ends.
IOException systemError(int line, const std::string& description, DWORD error) {
    return IOException(kSourceFile, line, description + ": " + std::to_string(error), static_cast<int>(error));
}

/// A manual-reset event, not signalled; throws std::system_error when refused.
HANDLE createEvent() {
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) throw std::system_error(static_cast<int>(::GetLastError()), std::system_category());
    return event;
}

/// UTF-8 to the system's wide characters; an empty result for invalid input.
std::wstring widen(const std::string& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
    const int count = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (count <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, &wide[0], count);
    return wide;
}

/// The device paths this process holds open. Windows refuses a second open of a
/// port opened without sharing, but Wine grants it; this keeps the refusal of a
/// second Serial on the same port the same on both.
class OpenPorts {
public:
    static OpenPorts& instance() {
        static OpenPorts ports;
        return ports;
    }
    /// False when `path` is held already.
    bool claim(const std::wstring& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        return held_.insert(key(path)).second;
    }
    void release(const std::wstring& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        held_.erase(key(path));
    }

private:
    // Device names are case-insensitive: COM5 and com5 are one port.
    static std::wstring key(std::wstring path) {
        std::transform(path.begin(), path.end(), path.begin(), [](wchar_t c) { return static_cast<wchar_t>(::towupper(c)); });
        return path;
    }
    std::mutex mutex_;
    std::set<std::wstring> held_;
};

}  // namespace

namespace win {

void UniqueHandle::reset(HANDLE handle) noexcept {
    if (valid()) ::CloseHandle(handle_);
    handle_ = handle;
}

std::wstring devicePath(const std::string& port) {
    const std::wstring wide = widen(port);
    if (wide.rfind(L"\\\\.\\", 0) == 0 || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
    return L"\\\\.\\" + wide;
}

}  // namespace win

Serial::SerialImpl::SerialImpl(const std::string& port, uint32_t baudrate, const Timeout& timeout,
                               bytesize_t bytesize, parity_t parity, stopbits_t stopbits,
                               flowcontrol_t flowcontrol)
    : SerialSettings(port, timeout, {baudrate, bytesize, parity, stopbits, flowcontrol}),
      read_event_(createEvent()),
      write_event_(createEvent()),
      wakeup_(createEvent()) {}

Serial::SerialImpl::~SerialImpl() {
    try {
        close();
    } catch (...) {
        // A destructor must not throw; the handle is released either way.
    }
}

void Serial::SerialImpl::open() {
    std::lock_guard<std::mutex> read_lock(read_mutex_);
    std::lock_guard<std::mutex> write_lock(write_mutex_);
    openLocked();
}

void Serial::SerialImpl::openLocked() {
    const std::string port = portToOpen();
    if (handle_.valid()) throw SerialException("Serial port already open.");

    const std::wstring path = win::devicePath(port);
    // A name with a NUL inside, or not UTF-8, would open some other device.
    if (path.size() <= 4 || port.find('\0') != std::string::npos) {
        throw IOException(kSourceFile, __LINE__, "Specified port, " + port + ", does not exist.", ERROR_FILE_NOT_FOUND);
    }
    if (!OpenPorts::instance().claim(path)) {
        throw IOException(kSourceFile, __LINE__, "Serial port " + port + " is in use by another program.",
                          ERROR_ACCESS_DENIED);
    }
    // Exclusive (no sharing) and overlapped: every wait happens in this file,
    // bounded and interruptible by close().
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        OpenPorts::instance().release(path);
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            throw IOException(kSourceFile, __LINE__, "Specified port, " + port + ", does not exist.",
                              static_cast<int>(error));
        }
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            throw IOException(kSourceFile, __LINE__, "Serial port " + port + " is in use by another program.",
                              static_cast<int>(error));
        }
        throw systemError(__LINE__, "Unknown error opening the serial port", error);
    }
    handle_.reset(handle);
    try {
        applyLineSettingsLocked(lineSettings());
        // The time-outs are the same for every setting of serial::Timeout: this
        // file bounds each wait itself (see kReadIntervalMs).
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = kReadIntervalMs;
        if (!::SetCommTimeouts(handle_.get(), &timeouts)) {
            throw IOException(kSourceFile, __LINE__, "Error setting timeouts.", static_cast<int>(::GetLastError()));
        }
    } catch (...) {
        handle_.reset();
        OpenPorts::instance().release(path);
        throw;
    }
    rx_.clear();
    open_.store(true, std::memory_order_release);
}

void Serial::SerialImpl::applyLineSettingsLocked(const kinetra::LineSettings& settings) {
    if (!handle_.valid()) throw IOException(kSourceFile, __LINE__, "Invalid file descriptor, is the serial port open?");
    kinetra::validateLineSettings(settings);
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    // Fails for a device that is no serial port (NUL, a disk, a file).
    if (!::GetCommState(handle_.get(), &dcb)) {
        throw IOException(kSourceFile, __LINE__, "Error getting the serial port state.", static_cast<int>(::GetLastError()));
    }
    dcb.BaudRate = settings.baudrate;
    dcb.fBinary = TRUE;
    dcb.ByteSize = static_cast<BYTE>(settings.bytesize);
    switch (settings.stopbits) {
        case stopbits_one: dcb.StopBits = ONESTOPBIT; break;
        case stopbits_one_point_five: dcb.StopBits = ONE5STOPBITS; break;
        case stopbits_two: dcb.StopBits = TWOSTOPBITS; break;
    }
    dcb.fParity = settings.parity != parity_none;
    switch (settings.parity) {
        case parity_none: dcb.Parity = NOPARITY; break;
        case parity_odd: dcb.Parity = ODDPARITY; break;
        case parity_even: dcb.Parity = EVENPARITY; break;
        case parity_mark: dcb.Parity = MARKPARITY; break;
        case parity_space: dcb.Parity = SPACEPARITY; break;
    }
    const bool software = settings.flowcontrol == flowcontrol_software;
    const bool hardware = settings.flowcontrol == flowcontrol_hardware;
    dcb.fOutxCtsFlow = hardware;
    dcb.fRtsControl = hardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
    dcb.fOutX = software;
    dcb.fInX = software;
    if (!::SetCommState(handle_.get(), &dcb)) {
        throw IOException(kSourceFile, __LINE__, "Error setting serial port settings.", static_cast<int>(::GetLastError()));
    }
}

void Serial::SerialImpl::close() {
    if (!isOpen()) return;
    // Wake a blocked reader or writer first, so the locks come free at once.
    closing_.fetch_add(1, std::memory_order_acq_rel);
    ::SetEvent(wakeup_.get());
    std::lock_guard<std::mutex> read_lock(read_mutex_);
    std::lock_guard<std::mutex> write_lock(write_mutex_);
    closeLocked();
    // Reset while both locks are held: no reader or writer can be waiting now.
    ::ResetEvent(wakeup_.get());
    closing_.fetch_sub(1, std::memory_order_acq_rel);
}

void Serial::SerialImpl::closeLocked() noexcept {
    if (!handle_.valid()) return;
    open_.store(false, std::memory_order_release);
    rx_.clear();
    // No transfer is pending here: each one ends before its lock is released.
    // Not throwing when CloseHandle fails (a removed device) keeps close() safe in
    // destructors and shutdown paths; the handle is gone either way.
    handle_.reset();
    OpenPorts::instance().release(win::devicePath(getPort()));
}

void Serial::SerialImpl::setPort(const std::string& port) {
    const bool wake = isOpen();
    if (wake) {
        closing_.fetch_add(1, std::memory_order_acq_rel);
        ::SetEvent(wakeup_.get());
    }
    std::lock_guard<std::mutex> read_lock(read_mutex_);
    std::lock_guard<std::mutex> write_lock(write_mutex_);
    struct WakeupDone {
        SerialImpl& self;
        bool active;
        ~WakeupDone() {
            if (!active) return;
            ::ResetEvent(self.wakeup_.get());
            self.closing_.fetch_sub(1, std::memory_order_acq_rel);
        }
    } done{*this, wake};
    const bool was_open = handle_.valid();
    if (was_open) closeLocked();
    storePort(port);
    if (was_open) openLocked();
}

void Serial::SerialImpl::updateLineSettings(const std::function<void(kinetra::LineSettings&)>& change) {
    // The write lock keeps the handle valid and serialises setters; a reader
    // blocked in readline() does not delay it.
    std::lock_guard<std::mutex> write_lock(write_mutex_);
    changeLineSettings(change, [this](const kinetra::LineSettings& settings) {
        if (handle_.valid()) applyLineSettingsLocked(settings);
    });
}

DWORD Serial::SerialImpl::finishTransfer(OVERLAPPED& overlapped, Clock::time_point deadline, bool& aborted,
                                         const char* what) {
    const HANDLE events[2] = {overlapped.hEvent, wakeup_.get()};
    bool cancelled = false;
    for (;;) {
        const DWORD waited = ::WaitForMultipleObjects(2, events, FALSE, static_cast<DWORD>(kinetra::millisecondsUntil(deadline, INFINITE - 1)));
        if (waited == WAIT_OBJECT_0) break;
        if (waited == WAIT_TIMEOUT && Clock::now() < deadline) continue;  // the wait rounds to whole ms
        if (waited != WAIT_OBJECT_0 + 1 && waited != WAIT_TIMEOUT) {
            const DWORD error = ::GetLastError();
            ::CancelIoEx(handle_.get(), &overlapped);
            ::WaitForSingleObject(overlapped.hEvent, kCancelGraceMs);
            throw systemError(__LINE__, "Error while waiting for the serial port", error);
        }
        // Time-out or close(): end the transfer; what it moved so far counts.
        ::CancelIoEx(handle_.get(), &overlapped);
        cancelled = true;
        if (::WaitForSingleObject(overlapped.hEvent, kCancelGraceMs) != WAIT_OBJECT_0) {
            throw systemError(__LINE__, what, ERROR_OPERATION_ABORTED);
        }
        break;
    }
    DWORD transferred = 0;
    if (::GetOverlappedResult(handle_.get(), &overlapped, &transferred, FALSE)) {
        aborted = false;
        return transferred;
    }
    const DWORD error = ::GetLastError();
    // Cancelled: 995 on Windows and for CancelIoEx under Wine, 676 under Wine when
    // the handle went away first. A transfer the port timed out ends with
    // ERROR_TIMEOUT under Wine and with a short count on Windows: both are a time-out.
    if (error == kAborted || error == kWineAbortedByClose || (cancelled && error == ERROR_TIMEOUT)) {
        aborted = true;
        return transferred;
    }
    throw systemError(__LINE__, what, error);
}

bool Serial::SerialImpl::readSome(Clock::time_point deadline) {
    // Ask for what is queued, so one read takes many lines; with nothing queued
    // ask for one byte, which waits for the first to arrive. A port whose queue
    // cannot be read (ClearCommError fails) is read a byte at a time.
    COMSTAT status{};
    DWORD errors = 0;
    const DWORD queued = ::ClearCommError(handle_.get(), &errors, &status) ? status.cbInQue : 0;
    const DWORD want = std::min<DWORD>(std::max<DWORD>(queued, 1), kReadChunk);

    OVERLAPPED overlapped{};
    overlapped.hEvent = read_event_.get();
    ::ResetEvent(read_event_.get());
    char* const into = rx_.prepare(want);
    if (!::ReadFile(handle_.get(), into, want, nullptr, &overlapped)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) throw systemError(__LINE__, "Error while reading from the serial port", error);
    }
    bool aborted = false;
    const DWORD got = finishTransfer(overlapped, deadline, aborted, "GetOverlappedResult failed");
    if (got > 0) {
        rx_.commit(got);
        return true;
    }
    // No total time-out is set, so a read that ends by itself without a byte
    // means end of file: the device went away (adapter removed, pty closed).
    if (!aborted) throw systemError(__LINE__, "Error while reading from the serial port", ERROR_DEVICE_NOT_CONNECTED);
    return false;
}

size_t Serial::SerialImpl::readline(std::string& buffer, size_t size, const std::string& eol) {
    std::lock_guard<std::mutex> read_lock(read_mutex_);
    if (!handle_.valid()) throw PortNotOpenedException("Serial::read");
    if (size == 0) return 0;

    const kinetra::ReadBounds bounds = kinetra::readBounds(getTimeout());

    std::size_t scanned = 0;
    Clock::time_point last_arrival = Clock::now();
    for (;;) {
        const std::size_t line = rx_.findLine(size, eol, scanned);
        if (line > 0) {
            rx_.take(line, buffer);
            return line;
        }
        if (closing_.load(std::memory_order_acquire) > 0) break;
        const auto deadline = kinetra::deadlineAfter(last_arrival, rx_.empty() ? bounds.first_byte : bounds.between_bytes);
        // A passed deadline still takes what is queued: time-outs of 0 mean
        // "hand out what has already arrived".
        if (!readSome(deadline)) break;  // time-out or close()
        last_arrival = Clock::now();
    }
    // Time-out or close(): hand out what arrived of the line, like a short read.
    const std::size_t partial = rx_.size();
    rx_.take(partial, buffer);
    return partial;
}

size_t Serial::SerialImpl::write(const uint8_t* data, size_t size) {
    std::lock_guard<std::mutex> write_lock(write_mutex_);
    if (!handle_.valid()) throw PortNotOpenedException("Serial::write");

    const uint64_t budget = kinetra::writeBudget(getTimeout(), size);
    // Without a write time-out, take what the port accepts at once.
    const auto deadline = budget == 0 ? Clock::now() : kinetra::deadlineAfter(Clock::now(), budget);

    std::size_t done = 0;
    while (done < size) {
        if (closing_.load(std::memory_order_acquire) > 0) return done;
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size - done, MAXDWORD));
        OVERLAPPED overlapped{};
        overlapped.hEvent = write_event_.get();
        ::ResetEvent(write_event_.get());
        if (!::WriteFile(handle_.get(), data + done, piece, nullptr, &overlapped)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING) throw systemError(__LINE__, "WriteFile failed", error);
        }
        bool aborted = false;
        const DWORD wrote = finishTransfer(overlapped, deadline, aborted, "WriteFile failed");
        done += wrote;
        if (!aborted && wrote == piece) continue;
        if (closing_.load(std::memory_order_acquire) > 0 || budget == 0) return done;
        if (!aborted && wrote == 0) throw systemError(__LINE__, "WriteFile failed", ERROR_DEVICE_NOT_CONNECTED);
        if (aborted) throw IOException(kSourceFile, __LINE__, "Write timeout.");
    }
    return done;
}

}  // namespace serial
