#include <windows.h>

#include "zel/platform/CZELSerialDevice.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr unsigned int kBaudRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

// Room for several whole packets in each direction; the flow-control limits below must fit in it,
// or a driver that checks them refuses the line settings.
constexpr DWORD kQueueSize = 4096;

constexpr char kDevicePrefix[] = "\\\\.\\";

// The errno of a failed open or line setting.
int ErrnoOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
        return ENOENT;
    case ERROR_ACCESS_DENIED: // what a COM port held by another program answers
    case ERROR_SHARING_VIOLATION:
        return EBUSY;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
        return ENOMEM;
    case ERROR_INVALID_PARAMETER:
        return EINVAL;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        return ENOTTY; // not a serial port
    default:
        return EIO;
    }
}

// Errors of an open handle that mean the device has gone: a USB adapter pulled, the other side of a
// mapped pseudo-terminal closed, an I/O ended by the driver rather than by us.
bool IsDeviceGone(DWORD error)
{
    switch (error) {
    case ERROR_BROKEN_PIPE:
    case ERROR_INVALID_HANDLE:
    case ERROR_BAD_COMMAND:
    case ERROR_NOT_READY:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_ACCESS_DENIED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_HANDLE_EOF:
        return true;
    default:
        return false;
    }
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::wstring Widen(const std::string& text)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
    return wide;
}

HANDLE NewEvent()
{
    return ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

// The wait of one call, in the milliseconds WaitForMultipleObjects takes.
DWORD WaitTime(const CZELDeadline& deadline)
{
    if (deadline.IsNever())
        return INFINITE;
    return static_cast<DWORD>(std::min<long long>(deadline.Remaining().count(), INFINITE - 1));
}

} // namespace

// Wake and Interrupt are manual-reset events that only the wait which reports them resets: a signal
// nobody has taken stays for the next wait, once, however often it was given.
struct CZELSerialDevice::Native
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE readDone = NewEvent();
    HANDLE writeDone = NewEvent();
    HANDLE wake = NewEvent();
    HANDLE interrupt = NewEvent();

    // How a wait for one overlapped transfer ended.
    enum class Ended
    {
        Completed,
        TimedOut,
        Woken,
        Interrupted,
        Failed,
    };

    struct Transfer
    {
        Ended ended = Ended::Failed;
        DWORD count = 0;
        DWORD error = 0; // of the transfer or the wait, when it failed
    };

    // Bytes waiting in the driver's receive queue.
    DWORD Queued() const
    {
        DWORD errors = 0;
        COMSTAT status{};
        return ::ClearCommError(handle, &errors, &status) ? status.cbInQue : 0;
    }

    // Runs one overlapped read or write to its end. A wait that ends first (deadline, Wake, Interrupt)
    // cancels the transfer and waits for it to finish: no transfer outlives its record. What it moved
    // before it stopped is counted all the same. A read waits on for bytes already queued, as a
    // read on a line that has data returns them whatever the deadline or a Wake says.
    Transfer Run(bool write, void* data, DWORD size, const CZELDeadline& deadline, bool wakeable)
    {
        Transfer result;
        OVERLAPPED overlapped{};
        overlapped.hEvent = write ? writeDone : readDone;
        const BOOL started = write ? ::WriteFile(handle, data, size, nullptr, &overlapped)
                                   : ::ReadFile(handle, data, size, nullptr, &overlapped);
        if (!started && ::GetLastError() != ERROR_IO_PENDING) {
            result.error = ::GetLastError();
            return result;
        }
        Ended ended = Ended::Completed;
        DWORD waitError = 0;
        bool queuedChecked = false;
        for (;;) {
            // The lowest signalled handle wins: a finished transfer before a stop, a stop before a wake.
            const HANDLE handles[3] = {overlapped.hEvent, interrupt, wake};
            const bool withWake = wakeable && !queuedChecked;
            const DWORD waited = ::WaitForMultipleObjects(withWake ? 3 : 2, handles, FALSE,
                queuedChecked ? INFINITE : WaitTime(deadline));
            if (waited == WAIT_OBJECT_0)
                break;
            if (waited == WAIT_OBJECT_0 + 1) {
                ended = Ended::Interrupted;
                break;
            }
            if (waited == WAIT_TIMEOUT && !deadline.Expired())
                continue;
            if (waited == WAIT_OBJECT_0 + 2 || waited == WAIT_TIMEOUT) {
                if (!write && Queued() > 0) {
                    queuedChecked = true; // the read is finishing: only a stop cuts it short now
                    continue;
                }
                ended = waited == WAIT_TIMEOUT ? Ended::TimedOut : Ended::Woken;
                break;
            }
            waitError = ::GetLastError();
            ended = Ended::Failed;
            break;
        }
        if (ended != Ended::Completed)
            ::CancelIoEx(handle, &overlapped); // fails when the transfer has just finished by itself
        DWORD count = 0;
        const BOOL finished = ::GetOverlappedResult(handle, &overlapped, &count, TRUE);
        const DWORD error = finished ? 0 : ::GetLastError();
        result.count = count;
        if (error != 0 && !(error == ERROR_OPERATION_ABORTED && ended != Ended::Completed)) {
            result.ended = Ended::Failed; // the device's own failure; an abort we did not ask for too
            result.error = error;
        } else if (count == size) {
            result.ended = Ended::Completed; // done before the cancel took: the signal stays for later
        } else {
            result.ended = ended;
            result.error = waitError;
        }
        return result;
    }
};

CZELSerialDevice::CZELSerialDevice()
    : m_native(std::make_unique<Native>())
{
}

CZELSerialDevice::~CZELSerialDevice()
{
    Close();
    for (const HANDLE event : {m_native->readDone, m_native->writeDone, m_native->wake, m_native->interrupt})
        if (event != nullptr)
            ::CloseHandle(event);
}

bool CZELSerialDevice::IsOpen() const
{
    return m_native->handle != INVALID_HANDLE_VALUE;
}

std::string CZELSerialDevice::ResolvePortName(const std::string& name)
{
    if (StartsWith(name, kDevicePrefix))
        return name;
    // COM10 and above are reachable only through the device namespace.
    if (name.size() > 3 && name.size() <= 12 && ::_strnicmp(name.c_str(), "COM", 3) == 0
        && std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const unsigned long number = std::strtoul(name.c_str() + 3, nullptr, 10);
        if (number >= 1)
            return std::string(kDevicePrefix) + "COM" + std::to_string(number);
    }
    return name;
}

std::string CZELSerialDevice::DescribeOpenError(const std::string& path, int error)
{
    // The operator knows the port by the name he typed, not by its device path.
    const std::string port = StartsWith(path, kDevicePrefix) ? path.substr(std::strlen(kDevicePrefix)) : path;
    std::string text = port + ": " + std::strerror(error) + ".";
    if (error == EBUSY)
        text += " The port is in use by another program; close it there first.";
    else if (error == ENOENT)
        text += " No such port: is the adapter plugged in? Check the COM number in the Device Manager.";
    else if (error == ENOTTY)
        text += " This is not a serial port.";
    return text;
}

bool CZELSerialDevice::IsSupportedBaudRate(unsigned int baud)
{
    return std::find(std::begin(kBaudRates), std::end(kBaudRates), baud) != std::end(kBaudRates);
}

unsigned int CZELSerialDevice::LineBaudRate() const
{
    DCB state{};
    state.DCBlength = sizeof state;
    if (!IsOpen() || !::GetCommState(m_native->handle, &state) || !IsSupportedBaudRate(state.BaudRate))
        return 0;
    return state.BaudRate;
}

int CZELSerialDevice::Open(const std::string& path, unsigned int baud, Parity parity)
{
    Close();
    m_openStep = OpenStep::Open;
    const auto fail = [this](HANDLE handle, int error, DWORD systemError) {
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
        m_lastSystemError = static_cast<int>(systemError);
        return m_lastError = error;
    };
    if (!IsSupportedBaudRate(baud))
        return fail(INVALID_HANDLE_VALUE, EINVAL, ERROR_INVALID_PARAMETER);
    for (const HANDLE event : {m_native->readDone, m_native->writeDone, m_native->wake, m_native->interrupt})
        if (event == nullptr)
            return fail(INVALID_HANDLE_VALUE, ENOMEM, ERROR_NOT_ENOUGH_MEMORY);
    const std::wstring widePath = Widen(path);
    if (widePath.empty())
        return fail(INVALID_HANDLE_VALUE, ENOENT, ERROR_INVALID_NAME);

    // No sharing: a second opener, in this program or another, is refused.
    const HANDLE handle = ::CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        const int mapped = ErrnoOf(error);
        if (mapped == EBUSY)
            m_openStep = OpenStep::Lock;
        return fail(handle, mapped, error);
    }
    if (::GetFileType(handle) != FILE_TYPE_CHAR)
        return fail(handle, ENOTTY, ERROR_INVALID_FUNCTION);

    m_openStep = OpenStep::ReadSettings;
    DCB state{};
    state.DCBlength = sizeof state;
    if (!::GetCommState(handle, &state)) {
        const DWORD error = ::GetLastError();
        return fail(handle, ErrnoOf(error), error);
    }

    m_openStep = OpenStep::WriteSettings;
    if (!::SetupComm(handle, kQueueSize, kQueueSize)) {
        const DWORD error = ::GetLastError();
        return fail(handle, ErrnoOf(error), error);
    }
    state.BaudRate = baud;
    state.ByteSize = 8;
    state.Parity = parity == Parity::Even ? EVENPARITY : NOPARITY;
    state.StopBits = ONESTOPBIT;
    state.fBinary = TRUE;
    state.fParity = parity == Parity::Even ? TRUE : FALSE;
    // No flow control of any kind; DTR and RTS stay low, since the device family reads them as its
    // reset and boot lines.
    state.fOutxCtsFlow = FALSE;
    state.fOutxDsrFlow = FALSE;
    state.fDtrControl = DTR_CONTROL_DISABLE;
    state.fDsrSensitivity = FALSE;
    state.fTXContinueOnXoff = TRUE;
    state.fOutX = FALSE;
    state.fInX = FALSE;
    state.fErrorChar = FALSE;
    state.fNull = FALSE;
    state.fRtsControl = RTS_CONTROL_DISABLE;
    state.fAbortOnError = FALSE;
    state.XonLim = 2048;
    state.XoffLim = 512;
    state.XonChar = 0x11;
    state.XoffChar = 0x13;
    state.ErrorChar = 0;
    state.EofChar = 0;
    state.EvtChar = 0;
    if (!::SetCommState(handle, &state)) {
        const DWORD error = ::GetLastError();
        // A pseudo-terminal behind a mapped port (Wine) has no parity: it takes even parity as none
        // on one open and refuses it on the next, leaving the rest of the state unset. Without
        // parity it takes everything; that line is usable, as on Linux.
        DCB withoutParity = state;
        withoutParity.Parity = NOPARITY;
        withoutParity.fParity = FALSE;
        if (parity != Parity::Even || error != ERROR_INVALID_PARAMETER || !::SetCommState(handle, &withoutParity))
            return fail(handle, ErrnoOf(error), error);
    }
    // A driver may take a setting and keep its own; parity may be missing, as above.
    DCB applied{};
    applied.DCBlength = sizeof applied;
    if (!::GetCommState(handle, &applied)) {
        const DWORD error = ::GetLastError();
        return fail(handle, ErrnoOf(error), error);
    }
    if (applied.BaudRate != baud || applied.ByteSize != 8 || applied.StopBits != ONESTOPBIT
        || (applied.Parity != state.Parity && applied.Parity != NOPARITY))
        return fail(handle, EINVAL, ERROR_INVALID_PARAMETER);

    // A read waits until it has its bytes; a write until every byte is with the driver. Read() asks
    // for one byte and then for what the driver holds: the "return at once" time-outs are not
    // honoured by every driver (Wine keeps such a read pending until its buffer is full).
    COMMTIMEOUTS timeouts{};
    if (!::SetCommTimeouts(handle, &timeouts)) {
        const DWORD error = ::GetLastError();
        return fail(handle, ErrnoOf(error), error);
    }
    // The state above has already lowered both lines; a port without modem lines refuses the extra
    // request, which is harmless.
    for (const DWORD function : {static_cast<DWORD>(CLRDTR), static_cast<DWORD>(CLRRTS)}) {
        if (!::EscapeCommFunction(handle, function)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION && error != ERROR_INVALID_PARAMETER)
                return fail(handle, ErrnoOf(error), error);
        }
    }

    ::PurgeComm(handle, PURGE_RXABORT | PURGE_TXABORT | PURGE_RXCLEAR | PURGE_TXCLEAR);
    m_native->handle = handle;
    m_path = path;
    m_lastSystemError = m_lastError = 0;
    m_openStep = OpenStep::None;
    return 0;
}

int CZELSerialDevice::OpenPseudoTerminal(std::string&)
{
    Close();
    m_lastSystemError = ERROR_CALL_NOT_IMPLEMENTED;
    return m_lastError = ENOSYS;
}

void CZELSerialDevice::Close()
{
    if (m_native->handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_native->handle);
    m_native->handle = INVALID_HANDLE_VALUE;
}

CZELSerialDevice::IoResult CZELSerialDevice::Read(std::uint8_t* buffer, std::size_t size, std::size_t& received,
    const CZELDeadline& deadline)
{
    received = 0;
    if (!IsOpen())
        return IoResult::Closed;
    if (size == 0)
        return IoResult::Done;
    Native& native = *m_native;
    const auto failed = [this](DWORD error) {
        m_lastSystemError = static_cast<int>(error);
        m_lastError = IsDeviceGone(error) ? EIO : ErrnoOf(error);
        return IsDeviceGone(error) ? IoResult::Gone : IoResult::Failed;
    };

    // The first byte is waited for; the rest is what the driver holds by then.
    const Native::Transfer first = native.Run(false, buffer, 1, deadline, true);
    received = first.count;
    if (first.ended == Native::Ended::Failed && received == 0)
        return failed(first.error);
    if (received == 0) {
        if (first.ended == Native::Ended::TimedOut)
            return IoResult::TimedOut;
        ::ResetEvent(first.ended == Native::Ended::Interrupted ? native.interrupt : native.wake);
        return IoResult::Woken;
    }
    const DWORD queued = native.Queued();
    if (size > 1 && queued > 0) {
        const DWORD more = static_cast<DWORD>(std::min<std::size_t>({size - 1, queued, MAXDWORD}));
        // Those bytes are there: neither the deadline nor a Wake cuts their read short.
        const Native::Transfer rest = native.Run(false, buffer + 1, more, CZELDeadline::Never(), false);
        received += rest.count;
        if (rest.ended == Native::Ended::Failed) {
            // The bytes read so far are returned; the failure shows on the next call.
            m_lastSystemError = static_cast<int>(rest.error);
        }
    }
    return IoResult::Done;
}

CZELSerialDevice::IoResult CZELSerialDevice::Write(const std::uint8_t* data, std::size_t size, std::size_t& written,
    const CZELDeadline& deadline)
{
    written = 0;
    if (!IsOpen())
        return IoResult::Closed;
    Native& native = *m_native;
    while (written < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - written, MAXDWORD));
        const Native::Transfer transfer =
            native.Run(true, const_cast<std::uint8_t*>(data + written), chunk, deadline, false);
        written += transfer.count;
        switch (transfer.ended) {
        case Native::Ended::Completed:
            if (transfer.count == 0) {
                // A driver with write time-outs of its own: nothing moved, nothing will.
                m_lastSystemError = ERROR_WRITE_FAULT;
                m_lastError = EIO;
                return IoResult::Failed;
            }
            break;
        case Native::Ended::TimedOut:
            return IoResult::TimedOut;
        case Native::Ended::Interrupted:
            ::ResetEvent(native.interrupt);
            return IoResult::Woken;
        case Native::Ended::Woken: // a write does not wait on Wake()
        case Native::Ended::Failed:
            m_lastSystemError = static_cast<int>(transfer.error);
            m_lastError = IsDeviceGone(transfer.error) ? EIO : ErrnoOf(transfer.error);
            return IsDeviceGone(transfer.error) ? IoResult::Gone : IoResult::Failed;
        }
    }
    return IoResult::Done;
}

void CZELSerialDevice::Flush()
{
    if (IsOpen())
        ::PurgeComm(m_native->handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
}

void CZELSerialDevice::Drain()
{
    if (IsOpen())
        ::FlushFileBuffers(m_native->handle);
}

void CZELSerialDevice::Wake() { ::SetEvent(m_native->wake); }

void CZELSerialDevice::Interrupt() { ::SetEvent(m_native->interrupt); }

void CZELSerialDevice::ForgetInterrupt() { ::ResetEvent(m_native->interrupt); }
