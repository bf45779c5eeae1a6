// The AT channel over the module's AT COM port: finding the port by its
// hardware id and friendly name, opening and configuring it, writing a
// command and collecting its reply.
#ifndef HBR_AGENT_COM_PORT_CHANNEL_H
#define HBR_AGENT_COM_PORT_CHANNEL_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

class CComPortChannelHelper {
public:
    // The process-wide helper, created on first call with the port closed,
    // never destroyed. Test only: SetInstanceForTest makes GetInstance
    // return `helper` (null restores the real one).
    static CComPortChannelHelper *GetInstance();
    static void SetInstanceForTest(CComPortChannelHelper *helper);

    CComPortChannelHelper();
    // Frees the object; does not close the port.
    virtual ~CComPortChannelHelper();
    CComPortChannelHelper(const CComPortChannelHelper &) = delete;
    CComPortChannelHelper &operator=(const CComPortChannelHelper &) = delete;

    // Opens the port whose first hardware id starts the wanted id: S_OK
    // when it was opened (configuration failures leave it open), else E_FAIL.
    // A port still held is closed first.
    HRESULT Init(const char *hardwareId);
    // The friendly name of the last matching port of class "Ports".
    BOOL GetComPortFriendlyName(std::string *friendlyName, const char *hardwareId);
    // Discards what waits in the input queue (logged; a "^SYSSTART" line
    // among it starts the next reply), then one write of the whole
    // command; TRUE when every byte went out.
    BOOL SendSetData(const char *command, uint32_t length);
    // What the module sends until the text holds a final result code line
    // ("OK", "ERROR", "+CME ERROR:...", "+CMS ERROR:..."), a read returns
    // nothing (2 s of silence) or 10 s have passed since the call; at most
    // `capacity` bytes. FALSE on a closed port (length untouched) or a
    // failing read (length = what was collected).
    BOOL ReadSetData(char *buffer, size_t capacity, size_t *length);
    // Closes the port when it is open and marks it closed.
    void Close();

    HANDLE m_hComm;

private:
    // Reads and drops the bytes waiting in the input queue; FALSE when the
    // port failed.
    BOOL DiscardStaleInput();
    // A read or write failed: the port is closed and the AT-channel timer
    // runs again, so the next tick brings the channel up anew.
    void PortLost();

    std::string m_nextReplyStart; // a restart line dropped before a command
};

// True when `text` holds a final result code line: at its start or after
// "\n", "OK" or "ERROR", or a line starting "+CME ERROR:" or "+CMS ERROR:",
// ended by "\r\n".
bool HoldsFinalResultCode(const char *text, size_t length);

// Time-outs, 9600 baud, CTS/DSR output flow control, DTR and RTS on.
BOOL ConfigSerialPort(HANDLE port);

// The text between the last "(" and the last ")" of a port's friendly name
// ("Modem AT Port (COM7)" gives "COM7"); empty when either is missing or
// the ")" stands before the "(". At most 260 characters.
std::string PortNameFromFriendlyName(const std::string &friendlyName);

#endif
