#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "store/RegisterList.h"

namespace tallyport {

class CsvTable;
class TConnectionControl;
class UserDialogs;

// The register dialog without widgets: the fields it shows, the lists it offers, the question,
// the checks and the save into the register list. A shell builds its dialog over one model (or
// runs it through RunRegisterDialog), fills its controls from Fields() and the lists, and
// forwards "&Salveaza" to Save with what the controls show. User-interface thread only.

enum class RegisterDialogMode { Add, Edit };

// The dialog's texts, each as shown (UTF-8, DisplayText): what the controls start with, and
// what they show when the user saves. An empty text is an empty box (a list without selection).
struct RegisterFields {
    std::string logicalNb;  // "Numar logic casa:"
    std::string model;      // "Model casa", one of RegisterModels()
    std::string port;       // "Port comunicatie", typed or one of the offered ports
    std::string speed;      // "Rata de transfer", typed or one of TransferRates()
    std::string dataBits;   // "Biti date", one of DataBitsChoices()
    std::string stopBits;   // "Biti stop", one of StopBitsChoices()
    std::string parity;     // "Paritate", one of ParityChoices()
    std::string fiscal;     // "Serie Fiscala"
    std::string cashPoint;  // "Denumire Punct Incasare"; the shell turns typed letters into
                            // upper case as they are typed
    bool operator==(const RegisterFields&) const = default;
};

// The lists the dialog offers, in their order. Only the port and the transfer rate take typed
// text; the other lists offer a choice only.
const std::vector<std::string>& RegisterModels();   // "Datecs MP55" ... "Datecs FP550T"
const std::vector<std::string>& TransferRates();    // "1200" ... "38400"
const std::vector<std::string>& DataBitsChoices();  // "5" ... "8"
const std::vector<std::string>& StopBitsChoices();  // "1", "2"
const std::vector<std::string>& ParityChoices();    // "None", "Odd", "Even", "Mark", "Space"

// The ports the dialog offers: "COM1" to "COM9", then `listed`, shown (DisplayText).
std::vector<std::string> OfferedPorts(const std::vector<std::string>& listed);
// The serial ports this computer has (the serial layer's list; reads the system's lists, opens
// nothing). Any thread.
std::vector<std::string> SystemPorts();

// The values of a new register: the first model, "COM1", "4800", "8", "1", "None".
RegisterFields NewRegisterFields();

// The system's texts of the dialog.
namespace register_dialog_text {
inline constexpr char kCaptionAdd[] = "Adaugare casa de marcat...";
inline constexpr char kCaptionEdit[] = "Editare casa de marcat...";
inline constexpr char kConfirmAdd[] = "Confirmati adaugarea casei de marcat?";
inline constexpr char kConfirmEdit[] = "Confirmati modificarea datelor pentru casa de marcat?";
inline constexpr char kDuplicate[] =
    "Erroare: Verificati numarul logic si portul serial. Nu pot fi inregistrate doua case cu "
    "aceleasi setari!";
}  // namespace register_dialog_text

// One showing of the dialog over the register list `list` (not owned; it must outlive the
// model). Add mode adds a row; Edit mode changes the list's current row as it was when the
// model was made (an empty list: every field empty, and the save adds the row). Asks and reports
// through `dialogs` (not owned).
class RegisterDialogModel {
public:
    // The ports offered are OfferedPorts(listed); by default the system's (SystemPorts).
    RegisterDialogModel(RegisterDialogMode mode, CsvTable& list, UserDialogs& dialogs);
    RegisterDialogModel(RegisterDialogMode mode, CsvTable& list, UserDialogs& dialogs,
                        std::vector<std::string> listed);

    RegisterDialogMode Mode() const { return mode_; }
    // "Adaugare casa de marcat..." or "Editare casa de marcat...".
    const char* Caption() const;
    // "COM1" to "COM9", then the listed ports.
    const std::vector<std::string>& Ports() const { return ports_; }
    // Replaces the listed ports (before the controls are filled). Fields() is unchanged but for
    // a stored port that now is, or no longer is, among the offered ones.
    void SetListedPorts(const std::vector<std::string>& listed);

    // What the controls start with. Add: NewRegisterFields(). Edit: the row's values; a value
    // that is not one of its list's items (a port outside the offered ones, an unknown model or
    // rate) shows as an empty box and is saved empty unless the user chooses one.
    RegisterFields Fields() const;

    // What "&Salveaza" did, and whether the dialog closes.
    enum class SaveResult {
        NotConfirmed,  // No to the question: nothing stored, the dialog stays open
        Kept,          // a value could not be stored (its message shown): the list is as it
                       // was, the dialog stays open for the user to correct it
        Saved,         // the row is in the list: the dialog closes
        Refused,       // another register has this logical number or port (kDuplicate shown):
                       // the list is as it was, the dialog closes
    };
    static bool Closes(SaveResult result) {
        return result == SaveResult::Saved || result == SaveResult::Refused;
    }
    // Asks (kConfirmAdd or kConfirmEdit), then stores `shown` into the list: every text the
    // user left as it was shown keeps the bytes it was read with (StoredBytes), so a row saved
    // unchanged reaches the list byte for byte. Never throws; the list never keeps a half
    // written row.
    SaveResult Save(const RegisterFields& shown);

private:
    bool CopyIntoRow(const RegisterFields& shown);

    RegisterDialogMode mode_;
    CsvTable& list_;
    UserDialogs& dialogs_;
    RegisterEntry row_;  // the row the fields come from (empty for a new one)
    std::vector<std::string> ports_;
};

// The register add or edit flow of the window. Edit makes row `row` of the list (in the grid's
// order) current, the first row when there is none or no such row. `show` is the shell's modal
// dialog over the model: it returns when the dialog has closed. Afterwards the list is saved
// (a failure is shown through the control's dialogs) and shown again (ShellView); neither
// happens before the start-up is done or after the end (TConnectionControl).
void RunRegisterDialog(TConnectionControl& control, RegisterDialogMode mode,
                       std::optional<std::size_t> row,
                       const std::function<void(RegisterDialogModel&)>& show);

}  // namespace tallyport
