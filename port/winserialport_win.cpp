// SPDX-License-Identifier: MIT
#include "port/winserialport.h"

#include <QMetaObject>
#include <QMutexLocker>

#include <qt_windows.h>

namespace {
constexpr DWORD ReadChunk = 4096;
constexpr DWORD WriteTimeoutMs = 2000;
// How long a cancelled read may take to end before it is left behind.
constexpr DWORD CancelWaitMs = 2000;
} // namespace

struct WinSerialPort::Handles
{
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE stop = nullptr;      // set to end the reader thread
    HANDLE readDone = nullptr;  // the reader's overlapped calls
    HANDLE writeDone = nullptr; // the GUI thread's overlapped writes
    // The reader's overlapped call and its buffer live here, not on the
    // reader's stack: a call that ignores its cancel may still end after the
    // reader thread has gone.
    OVERLAPPED readOv {};
    char readBuffer[ReadChunk];
    bool readLeftPending = false;

    ~Handles()
    {
        for (HANDLE h : {stop, readDone, writeDone})
            if (h)
                CloseHandle(h);
        if (port != INVALID_HANDLE_VALUE)
            CloseHandle(port);
    }
};

WinSerialPort::WinSerialPort(QObject* parent)
    : QIODevice(parent)
{
}

WinSerialPort::~WinSerialPort()
{
    close();
}

namespace {

// 9600 baud, 8N1, no flow control; reads that return at once with what has
// arrived, and writes that give up after WriteTimeoutMs.
bool configureLine(HANDLE port)
{
    DCB dcb {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb))
        return false;
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    COMMTIMEOUTS timeouts {};
    // With only the interval at MAXDWORD, ReadFile returns at once with what
    // has arrived; the reader calls it after WaitCommEvent saw a character.
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.WriteTotalTimeoutConstant = WriteTimeoutMs;
    return SetCommState(port, &dcb) && SetCommTimeouts(port, &timeouts)
        && SetCommMask(port, EV_RXCHAR) && PurgeComm(port, PURGE_RXABORT | PURGE_TXABORT);
}

} // namespace

bool WinSerialPort::open(OpenMode mode)
{
    if (isOpen())
        return false;
    auto h = std::make_unique<Handles>();
    const std::wstring path = (QStringLiteral("\\\\.\\") + m_portName).toStdWString();
    h->port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
    if (h->port == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // A COM port opens for one program at a time; the next is refused so.
        setErrorString(code == ERROR_ACCESS_DENIED ? tr("in use by another program")
                                                   : qt_error_string(int(code)));
        return false;
    }
    if (!configureLine(h->port)) {
        setErrorString(qt_error_string(int(GetLastError())));
        return false;
    }
    h->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    h->readDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    h->writeDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!h->stop || !h->readDone || !h->writeDone) {
        setErrorString(qt_error_string(int(GetLastError())));
        return false;
    }

    m_h = std::move(h);
    {
        QMutexLocker lock(&m_rxLock);
        m_rx.clear();
    }
    QIODevice::open(mode | Unbuffered);
    m_reader = std::thread([this] { readerLoop(); });
    return true;
}

void WinSerialPort::close()
{
    if (!m_h)
        return;
    SetEvent(m_h->stop);
    if (m_reader.joinable())
        m_reader.join();
    if (m_h->readLeftPending) {
        // Wine 8 does not end a pending read of some serial devices when it
        // is cancelled. Closing the port ends it; its OVERLAPPED and buffer
        // must outlive that, so they are left allocated (once per such close).
        CloseHandle(m_h->port);
        m_h->port = INVALID_HANDLE_VALUE;
        (void)m_h.release();
    }
    m_h.reset();
    QIODevice::close();
}

qint64 WinSerialPort::bytesAvailable() const
{
    QMutexLocker lock(&m_rxLock);
    return m_rx.size() + QIODevice::bytesAvailable();
}

qint64 WinSerialPort::readData(char* data, qint64 maxSize)
{
    QMutexLocker lock(&m_rxLock);
    const qint64 n = qMin(maxSize, qint64(m_rx.size()));
    memcpy(data, m_rx.constData(), size_t(n));
    m_rx.remove(0, n);
    return n;
}

qint64 WinSerialPort::writeData(const char* data, qint64 maxSize)
{
    if (!m_h)
        return -1;
    OVERLAPPED ov{};
    ov.hEvent = m_h->writeDone;
    ResetEvent(ov.hEvent);
    DWORD written = 0;
    if (!WriteFile(m_h->port, data, DWORD(maxSize), nullptr, &ov) && GetLastError() != ERROR_IO_PENDING) {
        setErrorString(qt_error_string(int(GetLastError())));
        return -1;
    }
    if (WaitForSingleObject(ov.hEvent, WriteTimeoutMs + 500) != WAIT_OBJECT_0) {
        CancelIoEx(m_h->port, &ov);
        GetOverlappedResult(m_h->port, &ov, &written, TRUE);
        setErrorString(tr("The write to %1 did not finish.").arg(m_portName));
        return -1;
    }
    if (!GetOverlappedResult(m_h->port, &ov, &written, FALSE)) {
        setErrorString(qt_error_string(int(GetLastError())));
        return -1;
    }
    return qint64(written);
}

// Runs on the reader thread: touches only the handles, the receive buffer
// under its lock, and queued calls into the GUI thread.
void WinSerialPort::readerLoop()
{
    const HANDLE waits[2] = {m_h->readDone, m_h->stop};
    OVERLAPPED& ov = m_h->readOv;
    ov.hEvent = m_h->readDone;

    // Waits for the pending overlapped call; false when stopping or failed.
    // An aborted WaitCommEvent is no failure: Windows aborts it when the
    // event mask changes, and Wine 8 ends every one so at once, without a
    // character; the ReadFile that follows then waits for the bytes itself.
    auto finish = [&](BOOL started, DWORD* transferred, bool abortIsDone = false) {
        if (!started && GetLastError() != ERROR_IO_PENDING) {
            reportFailure(GetLastError());
            return false;
        }
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
            CancelIo(m_h->port);
            if (WaitForSingleObject(ov.hEvent, CancelWaitMs) == WAIT_OBJECT_0)
                GetOverlappedResult(m_h->port, &ov, transferred, FALSE);
            else
                m_h->readLeftPending = true;
            return false;
        }
        if (!GetOverlappedResult(m_h->port, &ov, transferred, FALSE)) {
            const DWORD code = GetLastError();
            if (abortIsDone && code == ERROR_OPERATION_ABORTED)
                return true;
            reportFailure(code);
            return false;
        }
        return true;
    };

    char* const buffer = m_h->readBuffer;
    for (;;) {
        DWORD mask = 0;
        DWORD transferred = 0;
        ResetEvent(ov.hEvent);
        if (!finish(WaitCommEvent(m_h->port, &mask, &ov), &transferred, true))
            return;
        // Everything that has arrived; a full chunk means there may be more.
        do {
            ResetEvent(ov.hEvent);
            transferred = 0;
            if (!finish(ReadFile(m_h->port, buffer, ReadChunk, nullptr, &ov), &transferred))
                return;
            deliver(buffer, transferred);
        } while (transferred == ReadChunk);
    }
}

void WinSerialPort::deliver(const char* data, qint64 size)
{
    if (size <= 0)
        return;
    {
        QMutexLocker lock(&m_rxLock);
        m_rx.append(data, size);
    }
    if (!m_readyReadPosted.exchange(true)) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_readyReadPosted = false;
                if (bytesAvailable() > 0)
                    Q_EMIT readyRead();
            },
            Qt::QueuedConnection);
    }
}

void WinSerialPort::reportFailure(unsigned long code)
{
    const QString reason = qt_error_string(int(code));
    QMetaObject::invokeMethod(
        this,
        [this, reason] {
            if (!isOpen())
                return;
            setErrorString(reason);
            Q_EMIT readChannelFinished();
        },
        Qt::QueuedConnection);
}
