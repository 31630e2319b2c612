#include "requests/OtherMessages.h"

#include "base/NumberText.h"
#include "link/LinkFrame.h"
#include "link/SerialExtended.h"
#include "requests/FieldText.h"
#include "requests/Journalling.h"
#include "requests/RequestError.h"

namespace tallyport {

bool CheckCard(TSerialExtended& link, RequestFields& fields, const std::string& received,
               RequestContext& context) {
    EndResendWindow(link, context);
    LinkMessage message = SplitFrame(received);
    // A reference that could not stand in the closing line (a "," or a control byte from a
    // line error) is no card the shop can trace: it is not kept, and the card is refused.
    const bool traceable = FitsARecord(message.Field(4));
    fields.CardReference = traceable ? message.Field(4) : std::string();
    auto amount = ParseDouble(message.Field(5), '.');
    if (!amount) {
        throw RequestError("'" + message.Field(5) + "' is not a valid card amount");
    }
    bool accepted = traceable && link.CardMin <= *amount && *amount <= link.CardMax;
    if (!accepted) {
        fields.CardReference.clear();
    }
    JournalFieldsIfChanged(link, fields, context);
    if (!AwaitJournal(link, context)) {
        return false;
    }
    return link.SendReply(accepted ? "PLATA CARD;;;;;" : ".;;;;;");
}

bool VoidLastLine(TSerialExtended& link, RequestFields& fields, RequestContext& context) {
    EndResendWindow(link, context);
    if (!link.PendingTranLines.RemoveLast()) {
        return false;
    }
    JournalVoid(link, fields, context);
    AwaitJournal(link, context);
    return true;
}

}  // namespace tallyport
