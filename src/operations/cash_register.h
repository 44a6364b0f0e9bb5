// The cash register as every operation receives it: its port and the exchange over it, the
// component's log, the error the host reads with GetLastError, and what the driver last learned
// from the device and reports again where a fresh reading fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "log/logger.h"
#include "operations/unsettled_receipt.h"
#include "protocol/device_queries.h"
#include "serial/serial_port.h"

namespace vesklink {

// "COM5 (/dev/ttyACM0)": the port and the device it was opened on, as the log names them.
std::u16string PortName(uint32_t port, const std::string& device);

// How the register and its FN are registered, named after the attributes GetDataKKT reports them
// as and OperationFN passes them in.
struct RegistrationParameters {
    std::u16string KKTNumber, KKTSerialNumber, FFDVersionFN = u"1.0", FFDVersionKKT = u"1.0", FNSerialNumber,
        DateTime, CompanyName, INN, SaleAddress, SaleLocation, TaxationSystems, AgentTypes, AutomaticNumber,
        SenderEmail, FNSURL, OFDCompany, OFDCompanyINN;
    bool IsOffline = false, IsEncrypted = false, IsService = false, BSOSing = false, IsOnlineOnly = false,
         IsAutomaticPrinter = false, IsAutomatic = false, IsExcisable = false, IsGambling = false,
         IsLottery = false;
};

// The error the host reads: a text the driver recorded is answered once, after that the device
// is asked for its own.
struct ErrorState {
    std::u16string Text;
    int32_t Code = 0;
    bool AskDevice = true;
};

class CashRegister {
public:
    // The device going away and coming back is logged from the start, and the link settles an
    // unsettled receipt before any exchange; the register stays where it was made (its port cannot
    // be copied or moved), so the link's handlers may hold on to it.
    explicit CashRegister(Logger& logger);

    SerialPort Port;  // its destructor closes a port still open
    DeviceLink Link{Port};
    ErrorState LastError;
    // A receipt whose closing went unanswered, kept until the register tells what became of it.
    ReceiptSafeguard Safeguard;

    // What the register last said; each reading below keeps its part up to date.
    uint8_t DeviceModeByte = 0;   // 0 while the FN is not registered
    bool FnFiscalMode = false;    // once the FN was seen in fiscal mode
    uint64_t LastDocumentNumber = 0;
    // LastDocumentNumber is the register's last document: read since the last operation that may
    // have made a fiscal document without telling its number.
    bool LastDocumentKnown = false;
    int64_t ShiftState = 0;       // the host's code: 1 closed, 2 open, 3 expired
    int64_t CashBalance = 0;      // of the last settlement report or shift close
    std::u16string DeviceDateTime, FnsSiteAddress;
    RegistrationParameters RegistrationData;  // as GetDataKKT last read it

    void Log(std::u16string_view message, int level) { logger_.Log(message, level); }
    // A file the driver keeps beside the log; empty without a log folder.
    std::string PathBesideLog(std::string_view name) const { return logger_.PathBeside(name); }
    void LogReceiptBlock(std::u16string_view package) { logger_.LogReceiptBlock(package); }

    // Records an error text for the host and logs it; returns false.
    bool SetError(std::u16string_view text);
    // The same without the log line.
    void SetErrorQuiet(std::u16string_view text);
    // The device's own error code and text (0xD7), when it answers.
    void QueryDeviceError();

    bool QueryDeviceMode();
    std::optional<FnState> QueryFnState();
    // The shift's numbers, and its state when the register tells it (else the state stays).
    std::optional<ShiftNumbers> QueryShift();
    bool QueryDocumentDate(uint64_t documentNumber);
    bool ReadFnsSiteAddress();
    bool QueryCashBalance();
    // Opens or closes the shift (0xD9, 0x41); its document becomes the last document.
    bool SendShiftCommand(uint8_t command);
    // Cancels the open receipt (0x88), in the log before and after.
    bool CancelReceipt();

    // The register's last document as a reply told it.
    void NoteLastDocument(uint64_t number) {
        LastDocumentNumber = number;
        LastDocumentKnown = true;
    }
    void ForgetLastDocument() {
        LastDocumentNumber = 0;
        LastDocumentKnown = false;
    }
    // An operation is about to make a fiscal document: the last document number may change without
    // the driver reading it, and a receipt settled as registered no longer answers a retry.
    void FiscalDocumentAhead() {
        LastDocumentKnown = false;
        Safeguard.Forget();
    }

private:
    Logger& logger_;
};

}  // namespace vesklink
