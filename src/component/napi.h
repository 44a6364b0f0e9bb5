// The component object: one per host connection. It owns the settings, the link to the cash
// register, the error state, the cached device state and the logger for its whole life.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hostapi/addin_interfaces.h"
#include "log/logger.h"
#include "operations/receipt_attributes.h"
#include "protocol/device_link.h"

namespace pugi {
class xml_node;
}

namespace vesklink {

// Registration parameters of the register and its FN, named after the attributes they are
// reported as by GetDataKKT.
struct RegistrationParameters {
    std::u16string SenderEmail, KKTNumber, KKTSerialNumber, FFDVersionFN = u"1.0", FFDVersionKKT = u"1.0",
        FNSerialNumber, CompanyName, INN, SaleAddress, SaleLocation, TaxationSystems, AgentTypes,
        AutomaticNumber, FNSURL, OFDCompanyINN, OFDCompany;
    bool IsOffline = false, IsEncrypted = false, IsService = false, BSOSing = false, IsOnlineOnly = false,
         IsAutomaticPrinter = false, IsAutomatic = false, IsExcisable = false, IsGambling = false,
         IsLottery = false;
};

// What the register says about an unfinished receipt (command 0xF3).
enum class ReceiptOnRegister { Open, NotOpen, Unknown };

// How the closing command (0x85) ended.
enum class ClosingOutcome {
    Closed,      // the reply carries the receipt's numbers
    Refused,     // the register answered with a refusal, or the closing was stopped before it was sent
    Unanswered,  // no usable reply: nothing came back, or the frame was cut short
};

class nAPI final : public IComponentBase {
public:
    nAPI();
#if defined(ADDIN_WINDOWS)
    ~nAPI();
    void* ADDIN_DTOR_CALL DeletingDestructorSlot(unsigned int flags) override;
#else
    ~nAPI() override;
#endif

    // IInitDoneBase
    bool ADDIN_API Init(void* connection) override;
    bool ADDIN_API setMemManager(void* memoryManager) override;
    long ADDIN_API GetInfo() override;
    void ADDIN_API Done() override;

    // ILanguageExtenderBase
    bool ADDIN_API RegisterExtensionAs(WCHAR_T** extensionName) override;
    long ADDIN_API GetNProps() override;
    long ADDIN_API FindProp(const WCHAR_T* propName) override;
    const WCHAR_T* ADDIN_API GetPropName(long propNum, long propAlias) override;
    bool ADDIN_API GetPropVal(const long propNum, tVariant* value) override;
    bool ADDIN_API SetPropVal(const long propNum, tVariant* value) override;
    bool ADDIN_API IsPropReadable(const long propNum) override;
    bool ADDIN_API IsPropWritable(const long propNum) override;
    long ADDIN_API GetNMethods() override;
    long ADDIN_API FindMethod(const WCHAR_T* methodName) override;
    const WCHAR_T* ADDIN_API GetMethodName(const long methodNum, const long methodAlias) override;
    long ADDIN_API GetNParams(const long methodNum) override;
    bool ADDIN_API GetParamDefValue(const long methodNum, const long paramNum, tVariant* defValue) override;
    bool ADDIN_API HasRetVal(const long methodNum) override;
    bool ADDIN_API CallAsProc(const long methodNum, tVariant* params, const long paramCount) override;
    bool ADDIN_API CallAsFunc(const long methodNum, tVariant* retValue, tVariant* params,
                              const long paramCount) override;

    // LocaleBase
    void ADDIN_API SetLocale(const WCHAR_T* locale) override;
    // UserLanguageBase
    void ADDIN_API SetUserInterfaceLanguageCode(const WCHAR_T* languageCode) override;

    // Error state and hand-over of strings to the host.
    bool SetError(std::u16string_view text);       // logs the text at Error; returns false
    bool SetErrorQuiet(std::u16string_view text);  // the same without the log line; returns true
    bool ReturnString(std::u16string_view text, tVariant* variant);
    // A zero-terminated copy in host memory, or null without a memory manager or memory.
    WCHAR_T* CopyToHost(std::u16string_view text);
    bool Log(std::u16string_view message, int level) { return Logger.Log(message, level); }

    // Host interfaces.
    IAddInDefBase* Connection = nullptr;
    IMemoryManager* MemoryManager = nullptr;

    // Settings.
    int32_t PortNumber = 1;
    int32_t PortSpeed = 57600;

    // Device link: the serial port, the access code and the reply and payload buffers. Its
    // destructor closes a port still open.
    DeviceLink Link;

    // FN status.
    bool FnError = false, FnOverflow = false, FnFail = false, FnWarningBit3 = false, FnFiscalMode = false;

    // Status and document cache.
    uint64_t BacklogCount = 0, BacklogFirstNumber = 0;
    std::u16string BacklogFirstDateTime, DeviceDateTime, LastFiscalSign, FnsSiteAddress;
    uint64_t ShiftReceiptNumber = 0, ShiftNumber = 0;
    int64_t ShiftState = 0;
    uint64_t LastDocumentNumber = 0;
    int64_t CashBalance = 0;
    std::u16string CashierName, CashierInn;
    int64_t ReceiptSubtotal = 0, ReceiptTotal = 0;

    RegistrationParameters RegistrationData;

    // Error state.
    bool AskDeviceForError = true;
    std::u16string LastErrorText;
    int32_t LastErrorCode = 0;

    uint64_t OperationCounters[16] = {};
    uint8_t DeviceModeByte = 0;

    // The language code a newer host reports; recorded only.
    std::u16string UserInterfaceLanguage;

    ::vesklink::Logger Logger;

    // Host methods. Each returns the method's success; params is the host's parameter array.
    bool SetParameter(tVariant* params);
    void GetDescription(tVariant* params);
    bool GetParameters(tVariant* params);
    bool GetAdditionalActions(tVariant* params);
    bool Open();
    bool Close();
    bool DeviceTest(tVariant* params);
    bool PrintXReport();
    bool PrintCheckCopy(tVariant* params);
    bool OpenCashDrawer();
    void GetLastError(tVariant* retValue, tVariant* params);
    bool GetCurrentStatus(tVariant* params);
    bool ReportCurrentStatusOfSettlements(tVariant* params);
    bool OpenShift(tVariant* params);
    bool CloseShift(tVariant* params);
    bool PrintTextDocument(std::u16string_view package);
    bool CashInOutcome(tVariant* params);
    bool RegisterReceipt(tVariant* params, bool correction);
    bool GetDataKKT(tVariant* params);
    bool OperationFN(tVariant* params);

    // Connection procedures (operations/connection.cpp).
    bool CancelHungReceipt();
    bool CancelReceipt();
    ReceiptOnRegister QueryReceiptOnRegister();
    bool SetReceiptParameters();
    bool TestDevice();
    void QueryDeviceError();

    // Status queries and the close-shift sequence (operations/status.cpp).
    bool QueryShift();
    bool QueryShiftNumbers();
    bool QueryShiftState();
    bool QueryBacklog();
    bool QueryDocumentDate(uint64_t documentNumber);
    bool QueryCashBalance();
    bool QueryOperationCounters();
    bool SendCloseShift();
    bool CloseShiftSequence(tVariant* params);

    // Shared device queries writing this object's fields.
    bool QueryDeviceMode();
    bool QueryFnState();

    // Shift and cashier (operations/shift.cpp).
    bool ReadCashierInput(std::u16string_view inputXml);
    bool WriteCashier(uint16_t record);
    bool RunOpenShift(tVariant* params);
    bool SendOpenShift();

    // Printing inside a text document or a receipt (operations/text_document.cpp).
    bool PrintTextLine(std::u16string_view text);
    bool PrintBarcode(std::u16string_view type, std::u16string_view valueBase64);

    // Receipts as a whole: validation, opening, the walk over the lines, the result document
    // (operations/receipt.cpp).
    bool ValidateReceipt(std::u16string_view package, bool correction);
    void ReadNumbersOfUnansweredClosing();
    bool IsPaperOut();
    bool IsCoverOpen();

    // Positions, fiscal attributes, the subtotal and the closing with payments
    // (operations/receipt_position.cpp).
    bool RegisterPosition(const pugi::xml_node& position, int operationIndex);
    bool ReadAgentData(const pugi::xml_node& agent, const pugi::xml_node& vendor, ReceiptAttributes& record);
    bool SendReceiptAttributes(const ReceiptAttributes& record);
    bool PrintDiscountLine(std::u16string_view discount);
    bool ReadReceiptSubtotal();
    ClosingOutcome CloseReceipt(int64_t cash, int64_t prePayment, int64_t barter, int64_t postPayment,
                                int64_t electronicPayment);

private:
    bool Dispatch(long method, tVariant* retValue, tVariant* params);

    // Strings handed to the host during the current method call. An operation that writes an
    // output parameter twice (OpenShift after closing a forgotten shift) gives the first string
    // back instead of losing it.
    std::vector<void*> CallStrings;
};

}  // namespace vesklink
