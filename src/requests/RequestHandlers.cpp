#include "requests/RequestHandlers.h"

#include "requests/ArticleLookup.h"
#include "requests/OtherMessages.h"
#include "requests/ReceiptClosing.h"

namespace tallyport {

std::shared_ptr<const HandlerTable> MakeRequestHandlers(RequestContext& context) {
    auto table = std::make_shared<HandlerTable>();
    auto set = [&table](char type, MessageHandler handler) {
        (*table)[static_cast<unsigned char>(type)] = std::move(handler);
    };
    RequestContext* shared = &context;

    MessageHandler lookup = [shared](TSerialExtended& link, const std::string& received) {
        return LookupArticle(link, received, *shared);
    };
    MessageHandler card = [shared](TSerialExtended& link, const std::string& received) {
        return CheckCard(link, received, *shared);
    };
    MessageHandler voidLine = [shared](TSerialExtended& link, const std::string&) {
        return VoidLastLine(link, *shared);
    };
    MessageHandler acceptOnly = [](TSerialExtended&, const std::string&) { return false; };

    set('0', acceptOnly);
    set('1', lookup);
    set('2', [shared](TSerialExtended& link, const std::string& received) {
        return RecordDiscount(link, received, *shared);
    });
    set('3', [shared](TSerialExtended& link, const std::string& received) {
        return CloseReceipt(link, received, *shared);
    });
    set('4', acceptOnly);
    set('7', lookup);
    set('8', card);
    set('9', card);
    set('B', voidLine);
    set('F', voidLine);
    return table;
}

}  // namespace tallyport
