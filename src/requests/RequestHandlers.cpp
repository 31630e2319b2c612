#include "requests/RequestHandlers.h"

#include "link/SerialExtended.h"
#include "requests/ArticleLookup.h"
#include "requests/Journalling.h"
#include "requests/OtherMessages.h"
#include "requests/ReceiptClosing.h"

namespace tallyport {

std::shared_ptr<const HandlerTable> MakeRequestHandlers(RequestContext& context,
                                                        std::shared_ptr<RequestFields> fields) {
    auto table = std::make_shared<HandlerTable>();
    // The article request answers the register and waits for its confirmation: it runs inside
    // the register's turn on the link. The others write files or only change the pending
    // lines; they run after it.
    auto set = [&table](char type, MessageHandler handler,
                        HandlerTurn turn = HandlerTurn::AfterTurn) {
        (*table)[static_cast<unsigned char>(type)] = HandlerEntry{std::move(handler), turn};
    };
    RequestContext* shared = &context;
    // This register's working fields live as long as the table that its handlers share.

    MessageHandler lookup = [shared, fields](TSerialExtended& link, const std::string& received) {
        return LookupArticle(link, *fields, received, *shared);
    };
    MessageHandler card = [shared, fields](TSerialExtended& link, const std::string& received) {
        return CheckCard(link, *fields, received, *shared);
    };
    MessageHandler voidLine = [shared, fields](TSerialExtended& link, const std::string&) {
        return VoidLastLine(link, *fields, *shared);
    };
    MessageHandler acceptOnly = [](TSerialExtended&, const std::string&) { return false; };

    set('0', acceptOnly);
    set('1', lookup, HandlerTurn::InTurn);
    set('2', [shared, fields](TSerialExtended& link, const std::string& received) {
        return RecordDiscount(link, *fields, received, *shared);
    });
    set('3', [shared, fields](TSerialExtended& link, const std::string& received) {
        return CloseReceipt(link, *fields, received, *shared);
    });
    set('4', acceptOnly);
    set('7', lookup, HandlerTurn::InTurn);
    set('8', card);
    set('9', card);
    set('B', voidLine);
    set('F', voidLine);
    return table;
}

HandlerFactory RequestHandlerFactory(RequestContext& context) {
    RequestContext* shared = &context;
    // The fields come from the context, where the start-up puts what the journal kept of them.
    return [shared](TSerialExtended& link) {
        WaitForJournalBeforeEachPoll(link, *shared);
        return MakeRequestHandlers(*shared, shared->FieldsOf(link.LogicalNb));
    };
}

}  // namespace tallyport
