#include "ecrsim/Clerk.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "simulator/EcrProtocol.h"

namespace tallyport::ecrsim {

namespace {

using namespace std::chrono_literals;

std::string ClockText() {
    const auto now = WallClock::now();
    const std::time_t seconds = WallClock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(ms.count()));
    return buffer;
}

std::string Amount(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", std::max(value, 0.0) + 1e-9);
    return buffer;
}

// What is printable of the bytes the program sent.
std::string Printable(std::string_view text) {
    std::string out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            out += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        }
    }
    return out;
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string StripLeadingZeros(const std::string& code) {
    const auto first = code.find_first_not_of('0');
    return first == std::string::npos ? "0" : code.substr(first);
}

}  // namespace

// ---- Printer ----

void Printer::Write(const std::string& line) const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::cout << line << '\n' << std::flush;
}

void Printer::Exchange(const std::string& line) const {
    if (!quiet_) {
        Write(line);
    }
}

void Printer::Note(const std::string& line) const {
    Write(line);
}

void Printer::Problem(const std::string& line) const {
    Write("!! " + line);
}

// ---- Clerk ----

std::unique_ptr<sim::EcrSimulator> Clerk::MakeSimulator(const ShopOptions& options, int logicalNb) {
    sim::EcrSimulator::Options simOptions;
    simOptions.logicalNb = logicalNb;
    simOptions.line =
        options.rate > 0 ? sim::LineRate::Baud(options.rate) : sim::LineRate::Instant();
    const auto index = static_cast<std::size_t>(logicalNb - options.firstNumber);
    if (index < options.devices.size()) {
        simOptions.device = options.devices[index];
    }
    return std::make_unique<sim::EcrSimulator>(simOptions);
}

Clerk::Clerk(const ShopContext& context, int logicalNb, std::uint64_t seed)
    : context_(context),
      logicalNb_(logicalNb),
      simulator_(MakeSimulator(context.options, logicalNb)),
      random_(seed ^ (0x9E3779B97F4A7C15ull * static_cast<std::uint64_t>(logicalNb))) {
    const std::string prefix = std::to_string(context.settings.scalePrefix);
    for (const Article& a : context.articles.Articles()) {
        if (!AllDigits(a.code)) {
            continue;
        }
        const std::string padded = PadLeft(a.code, 13, '0');
        if (padded.size() == 13 && padded.compare(0, prefix.size(), prefix) == 0 &&
            padded.compare(7, 6, "000000") == 0) {
            weighed_.push_back(&a);
        } else if (StripLeadingZeros(padded).size() <= 6) {
            plain_.push_back(&a);
        } else {
            barcodes_.push_back(&a);
        }
    }
    nextReceiptNo_ = 1 + static_cast<int>(random_() % 5000);
    zReport_ = 1 + static_cast<int>(random_() % 900);
    // What the program remembers of an earlier run is not known.
    cardReferences_.clear();
}

std::string Clerk::Fiscal() const {
    return context_.options.fiscalPrefix + PadLeft(std::to_string(logicalNb_), 8, '0');
}

ClerkStats Clerk::Stats() const {
    std::lock_guard<std::mutex> guard(statsMutex_);
    return stats_;
}

int Clerk::Percent() {
    return static_cast<int>(random_() % 100);
}

void Clerk::Pace() {
    const int pace = context_.options.paceMs;
    if (pace > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pace / 2 + random_() % (pace + 1)));
    }
}

std::string Clerk::Body(char type, const std::vector<std::string>& fields) {
    sequence_ = sequence_ % 9999 + 1;
    std::string body = Fiscal() + ";" + std::to_string(sequence_) + ";" + std::string(1, type);
    for (const std::string& f : fields) {
        body += ";" + f;
    }
    return body;
}

bool Clerk::WaitForFirstPoll() {
    ShopControl& control = context_.control;
    idle_ = true;
    while (!control.abort.load() && !control.stop.load()) {
        if (simulator_->WaitForPolls(1, 100ms)) {
            idle_ = false;
            CheckProgramRate();
            return true;
        }
    }
    context_.printer.Note("ECR" + std::to_string(logicalNb_) + " was never polled");
    return false;
}

void Clerk::Run() {
    ShopControl& control = context_.control;
    if (!WaitForFirstPoll()) {
        idle_ = true;
        ended_ = true;
        return;
    }
    lastGapCheck_ = sim::Clock::now();
    resumesSeen_ = control.resumes.load();
    while (!control.abort.load()) {
        if (resumesSeen_ != control.resumes.load()) {
            // The pause was the moment to stop or restart the program.
            resumesSeen_ = control.resumes.load();
            ProgramMayHaveRestarted(Span::Now(), "resumed after a pause");
        }
        if (receipt_) {
            idle_ = false;
            const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 sim::Clock::now().time_since_epoch())
                                 .count();
            if (control.stop.load() &&
                (!context_.options.finishReceipts || now > control.finishDeadline.load())) {
                break;
            }
            ReceiptStep();
        } else {
            if (control.stop.load()) {
                break;
            }
            if (control.paused.load()) {
                idle_ = true;
                std::this_thread::sleep_for(20ms);
                continue;
            }
            idle_ = false;
            StartReceipt();
        }
        Pace();
    }
    if (receipt_) {
        std::lock_guard<std::mutex> guard(statsMutex_);
        ++stats_.receiptsLeftOpen;
        context_.printer.Note("ECR" + std::to_string(logicalNb_) + " leaves receipt " +
                              std::to_string(receipt_->number) + " open");
    }
    idle_ = true;
    ended_ = true;
}

// ---- the program's state ----

void Clerk::CheckProgramRate() {
    const int programBaud = simulator_->ProgramBaud();
    const int registerBaud = simulator_->Line().baud;
    if (registerBaud > 0 && programBaud > 0 && programBaud != registerBaud) {
        context_.printer.Problem("ECR" + std::to_string(logicalNb_) +
                                 ": the program runs its port at " + std::to_string(programBaud) +
                                 " baud, the register at " + std::to_string(registerBaud) +
                                 ": on a real line every byte would arrive garbled");
    }
}

void Clerk::CheckForRestart() {
    const auto now = sim::Clock::now();
    const auto gap = simulator_->LongestPollGap(lastGapCheck_, now);
    const auto from = lastGapCheck_;
    lastGapCheck_ = now;
    if (gap > std::chrono::milliseconds(context_.options.gapMs)) {
        const auto gapMs = std::chrono::duration_cast<std::chrono::milliseconds>(gap).count();
        Span span = Span::Now();
        span.steadyFrom = from;
        span.wallFrom = span.wallTo - (now - from);
        ProgramMayHaveRestarted(span, "not polled for " + std::to_string(gapMs) + " ms");
    }
}

void Clerk::ProgramMayHaveRestarted(const Span& span, const std::string& why) {
    // The program keeps what it was told in its journal before it polls the register again, so
    // a restart loses only what an exchange it never finished told it (such lines are optional
    // already); the lines, the fields and the last-closing key are otherwise kept exactly.
    (void)span;
    {
        std::lock_guard<std::mutex> guard(statsMutex_);
        ++stats_.possibleRestarts;
    }
    context_.printer.Note(ClockText() + " ECR" + std::to_string(logicalNb_) + " " + why +
                          ": the program may have restarted");
}

// ---- one exchange ----

// The program waits this long for each byte of a register's answer.
constexpr std::chrono::milliseconds kByteTimeout{55};
// How much earlier than the simulator heard the poll's last byte the program may start that
// wait: the simulator reads the poll a little after the program wrote it.
constexpr std::chrono::milliseconds kHeardLate{5};

// Why the program may rightly have given up on the register's answer: its first byte, or a
// later one, came more than a byte's wait after the one before (the simulator's thread, on a
// loaded machine, can be that late). Empty when the answer came in time.
std::string Clerk::LateAnswer(const sim::ExchangeResult& result) const {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    const auto first = result.answer.start - result.poll.last;
    const auto bytes = static_cast<long long>(std::max<std::size_t>(result.answer.bytes.size(), 1));
    const auto stretch =
        (result.answer.end - result.answer.start) - simulator_->Line().CharTime() * (bytes - 1);
    if (first + kHeardLate > kByteTimeout) {
        return "answered " + std::to_string(duration_cast<milliseconds>(first).count()) +
               " ms after the poll";
    }
    if (stretch + kHeardLate > kByteTimeout - simulator_->Line().CharTime()) {
        return "answer " + std::to_string(duration_cast<milliseconds>(stretch).count()) +
               " ms slower than the line";
    }
    return {};
}

// How long after the program was killed its last poll may still reach the register: the poll's
// time on the wire at the slowest rate (19 characters at 1200 baud, 158 ms) and the time the
// killer takes to note the kill.
constexpr std::chrono::milliseconds kPollHeardAfterKill{300};

Clerk::Outcome Clerk::Exchange(const std::string& kind, const std::string& body, Expect expect,
                               const std::string& expectedReply, bool confirm) {
    CheckForRestart();
    sim::Confirmation confirmation;
    confirmation.enabled = confirm;
    simulator_->SetConfirmation(confirmation);

    Outcome out;
    const Span start = Span::Now();
    const auto result = simulator_->Exchange(
        sim::Answer::Frame(body), std::chrono::milliseconds(context_.options.answerTimeoutMs),
        std::chrono::milliseconds(context_.options.answerTimeoutMs));
    // The program polls again only once it has kept what the exchange told it (its journal):
    // until then a restart could lose it.
    bool settled = false;
    if (result.acked) {
        const std::size_t answered = result.poll.offset;
        sim::Clock::time_point nextPoll{};
        settled = simulator_->WaitUntil(
            [answered, &nextPoll](const std::vector<sim::PcMessage>& messages) {
                for (auto m = messages.rbegin(); m != messages.rend() && m->offset > answered;
                     ++m) {
                    if (m->kind == sim::PcKind::Poll) {
                        nextPoll = m->first;
                        return true;
                    }
                }
                return false;
            },
            std::chrono::milliseconds(context_.options.answerTimeoutMs));
        // A poll from a program started after a kill does not tell that the killed one kept it:
        // a kill noted in between, or a gap as long as a restart's after the PC's last word.
        const sim::Clock::time_point lastWord =
            result.messages.empty() ? result.poll.last : result.messages.back().last;
        settled = settled && !KilledBetween(start.steadyFrom, nextPoll) &&
                  nextPoll - lastWord < std::chrono::milliseconds(context_.options.gapMs);
    }
    out.span = Span::Between(start, Span::Now());
    // A poll by a program started after a kill is no answer of the one the exchange began with:
    // what that one left undone was cut off, not done wrong. On a timed line the poll that took
    // the answer may itself be the killed program's, still on the wire when it died and heard
    // after the kill was noted: a kill shortly before the exchange began counts too.
    const bool polledAgain =
        result.nextPoll &&
        !KilledBetween(start.steadyFrom - kPollHeardAfterKill, out.span.steadyTo);
    lastGapCheck_ = std::max(lastGapCheck_, start.steadyFrom);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(out.span.steadyTo - start.steadyFrom)
            .count();

    std::string back;
    std::string problem;
    out.served = result.sent;
    if (result.response) {
        out.reply = result.response->text;
    }
    if (!result.sent) {
        back = "not polled";
    } else if (!result.acked) {
        back = polledAgain ? "no ACK, polled again" : "no ACK, then silence";
        const std::string late = LateAnswer(result);
        if (polledAgain && !late.empty()) {
            back += " (" + late + ")";  // the register's fault, not the program's
        } else if (polledAgain) {
            const auto first = std::chrono::duration_cast<std::chrono::milliseconds>(
                result.answer.start - result.poll.last);
            problem = "the frame was not acknowledged (it went out " +
                      std::to_string(first.count()) + " ms after the poll)";
        } else {
            out.lost = true;
        }
    } else {
        back = "ACK";
        out.acked = true;
        out.settled = settled;
        const auto& r = result.response;
        if (r && r->kind == sim::PcKind::Reply) {
            back += ", reply " + Printable(r->text);
            if (!r->crcOk) {
                problem = "reply CRC " +
                          sim::HexBytes(std::string(1, static_cast<char>(r->crc >> 8)) +
                                        static_cast<char>(r->crc & 0xFF)) +
                          " is wrong";
            } else if (r->fillersBefore != 4 || r->fillersAfter != 5) {
                problem = "reply fillers " + std::to_string(r->fillersBefore) + "/" +
                          std::to_string(r->fillersAfter) + " instead of 4/5";
            }
        } else if (r && r->kind == sim::PcKind::PaddedAck) {
            back += ", padded ACK";
            if (r->fillersBefore != 6 || r->fillersAfter != 10) {
                problem = "padded acknowledgement fillers " + std::to_string(r->fillersBefore) +
                          "/" + std::to_string(r->fillersAfter) + " instead of 6/10";
            }
        }
        const bool gotReply = r && r->kind == sim::PcKind::Reply;
        const bool gotPadded = r && r->kind == sim::PcKind::PaddedAck;
        if (expect == Expect::Reply && !gotReply) {
            if (polledAgain) {
                problem = "no reply (expected " + expectedReply + ")";
            } else {
                out.lost = true;
                back += ", then silence";
            }
        } else if (expect == Expect::PaddedAck && !gotPadded) {
            if (polledAgain) {
                problem = "no padded acknowledgement";
            } else {
                out.lost = true;
                back += ", then silence";
            }
        } else if (expect == Expect::Nothing && r) {
            problem = std::string("unexpected ") + sim::PcKindName(r->kind);
        } else if (expect == Expect::Reply && r->text != UpperAsciiLetters(expectedReply)) {
            problem = "reply differs, expected " + UpperAsciiLetters(expectedReply);
        }
        if (problem.empty() && !out.lost) {
            out.accepted = true;
        }
        for (const sim::PcMessage& m : result.messages) {
            if (m.kind == sim::PcKind::Other && problem.empty()) {
                problem = "unrecognised bytes " + sim::HexBytes(m.bytes);
                out.accepted = false;
            }
        }
    }
    if (expect == Expect::Reply && out.accepted && confirm) {
        back += ", confirmed";
    } else if (expect == Expect::Reply && out.accepted) {
        back += ", not confirmed";
    }

    char head[64];
    std::snprintf(head, sizeof head, " ECR%d %-8s ", logicalNb_, kind.c_str());
    const std::string line =
        ClockText() + head + body + " => " + back + " (" + std::to_string(ms) + " ms)";
    {
        std::lock_guard<std::mutex> guard(statsMutex_);
        ++stats_.exchanges;
        stats_.notServed += result.sent ? 0 : 1;
        stats_.protocolErrors += problem.empty() ? 0 : 1;
    }
    if (problem.empty()) {
        context_.printer.Exchange(line);
    } else {
        context_.printer.Problem(line + ": " + problem);
    }
    if (!out.served || out.lost) {
        ProgramMayHaveRestarted(out.span, out.served ? "answer cut off" : "not polled");
        lastGapCheck_ = sim::Clock::now();  // this gap is told
    }
    return out;
}

// ---- receipts ----

bool Clerk::WantsToClose() const {
    const ShopControl& control = context_.control;
    return receipt_->itemsTried >= receipt_->plannedItems || control.stop.load() ||
           control.paused.load();
}

void Clerk::StartReceipt() {
    Receipt r;
    r.number = nextReceiptNo_++;
    r.operatorNo = 1 + static_cast<int>(random_() % 4);
    r.plannedItems = 1 + static_cast<int>(random_() % std::max(1, context_.options.maxItems));
    receipt_ = r;
}

void Clerk::ReceiptStep() {
    if (!WantsToClose()) {
        ItemStep();
    } else {
        ClosingStep();
    }
}

void Clerk::ItemStep() {
    const ShopOptions& o = context_.options;
    ++receipt_->itemsTried;
    const int r = Percent();
    const bool hasLine = !receipt_->lineValues.empty();
    if (hasLine && lastArticle_ && r < o.discountPercent) {
        Discount();
    } else if (hasLine && r < o.discountPercent + o.voidPercent) {
        VoidLast();
    } else if (r >= 97) {
        OtherMessage();
    } else {
        Sale(false);
    }
}

std::string Clerk::PickCode(bool forceKnown, bool& foreign) {
    const ShopOptions& o = context_.options;
    const std::string prefix = std::to_string(context_.settings.scalePrefix);
    foreign = !forceKnown && Percent() < 1;
    const bool unknown = !forceKnown && Percent() < o.unknownPercent;
    const int kind = Percent();
    auto pick = [this](const std::vector<const Article*>& pool) {
        return pool[random_() % pool.size()];
    };
    auto weight = [this] { return PadLeft(std::to_string(50 + random_() % 2451), 5, '0'); };
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string code;
        if (kind < 20 && !weighed_.empty()) {
            const std::string head =
                unknown ? prefix + PadLeft(std::to_string(random_() % 100000), 5, '0')
                        : pick(weighed_)->code.substr(0, 7);
            code = head.substr(0, 7) + weight();
            code += Ean13CheckDigit(code);
        } else if (kind < 50 && !barcodes_.empty()) {
            if (unknown) {
                code = "59" + PadLeft(std::to_string(random_() % 10000000000ull), 10, '0');
                code += Ean13CheckDigit(code);
            } else {
                code = StripLeadingZeros(pick(barcodes_)->code);
            }
        } else if (!plain_.empty()) {
            code = unknown ? std::to_string(100000 + random_() % 900000)
                           : StripLeadingZeros(pick(plain_)->code);
        } else if (!barcodes_.empty()) {
            code = StripLeadingZeros(pick(barcodes_)->code);
        } else if (!weighed_.empty()) {
            code = pick(weighed_)->code.substr(0, 7) + weight();
            code += Ean13CheckDigit(code);
        } else {
            return "1";
        }
        const AnswerSettings answerSettings{prefix, context_.settings.recDecimals};
        const bool found = AnswerSale(context_.articles, answerSettings, code, "1.000").found;
        if (found != unknown) {
            return code;
        }
    }
    return "1";
}

bool Clerk::Sale(bool forceKnown) {
    const ShopOptions& o = context_.options;
    bool foreign = false;
    const std::string code = PickCode(forceKnown, foreign);
    const std::string prefix = std::to_string(context_.settings.scalePrefix);
    const AnswerSettings answerSettings{prefix, context_.settings.recDecimals};
    std::string quantity = "1.000";
    const int q = Percent();
    if (!AnswerSale(context_.articles, answerSettings, code, "1.000").weighed) {
        quantity = q < 80 ? "1.000" : q < 92 ? "2.000" : q < 97 ? "3.000" : "-1.000";
    }
    const SaleAnswer answer = AnswerSale(context_.articles, answerSettings, code, quantity);
    const bool confirm = forceKnown || Percent() >= o.unconfirmedPercent;
    std::string body = Body(Percent() < 10 ? '7' : '1', {code, "", quantity});
    if (foreign) {
        body.replace(0, Fiscal().size(), "ZZ" + PadLeft(std::to_string(logicalNb_ + 90), 8, '0'));
    }
    const bool replyDue = answer.found && !foreign;
    const Outcome out =
        Exchange(foreign        ? "foreign"
                 : answer.found ? "sale"
                                : "unknown",
                 body, replyDue ? Expect::Reply : Expect::Nothing, answer.replyText, confirm);
    {
        std::lock_guard<std::mutex> guard(statsMutex_);
        stats_.foreignRequests += foreign && out.served ? 1 : 0;
        stats_.unknownCodes += !answer.found && !foreign && out.served ? 1 : 0;
    }
    if (!replyDue || !out.served) {
        return false;
    }
    if (out.reply.empty()) {
        return false;  // lost, or no reply at all
    }
    // The program has found the article, whatever came of the reply: its decimals code,
    // department and VAT group are now the link's.
    lastArticle_ = answer.article;
    if (!out.settled) {
        // The program may have died before it kept the article's fields: the next closing
        // needs a sale first, which makes them known again.
        lastArticle_.reset();
    }
    if (!out.accepted || !confirm) {
        std::lock_guard<std::mutex> guard(statsMutex_);
        stats_.unconfirmed += out.accepted ? 1 : 0;
        return out.accepted;
    }
    ToldLine line;
    line.fields = answer.line;
    line.fields.logicalNb = logicalNb_;
    line.span = out.span;
    line.span.wallTo += std::chrono::seconds(1);  // the line is dated after the confirmation
    line.origin = "receipt " + std::to_string(receipt_->number) + ", code " + code;
    // Not settled: a kill may have come before the program kept it.
    held_.Add(std::move(line), out.settled);
    receipt_->lineValues.push_back(answer.lineValue);
    receipt_->total += answer.lineValue;
    std::lock_guard<std::mutex> guard(statsMutex_);
    ++stats_.sales;
    return true;
}

void Clerk::Discount() {
    static const char* const kRates[] = {"-5.00", "-10.00", "-15.00", "-20.00", "5.00"};
    const std::vector<double>& lines = receipt_->lineValues;
    const std::string value = Amount(!lines.empty() && lines.back() > 0 ? lines.back() : 1.0);
    const std::string rate = kRates[random_() % std::size(kRates)];
    const Outcome out =
        Exchange("discount", Body('2', {"", value, rate}), Expect::Nothing, "", true);
    if (!out.accepted || !context_.settings.recDiscount) {
        return;
    }
    const DiscountAnswer answer = AnswerDiscount(value, rate, *lastArticle_);
    ToldLine line;
    line.fields = answer.line;
    line.fields.logicalNb = logicalNb_;
    line.span = out.span;
    line.origin = "receipt " + std::to_string(receipt_->number) + ", discount " + rate + "%";
    held_.Add(std::move(line), out.settled);
    receipt_->lineValues.push_back(answer.value);
    receipt_->total += answer.value;
    std::lock_guard<std::mutex> guard(statsMutex_);
    ++stats_.discounts;
}

void Clerk::VoidLast() {
    const Outcome out =
        Exchange("void", Body(Percent() < 50 ? 'B' : 'F', {}), Expect::Nothing, "", true);
    std::vector<double>& lines = receipt_->lineValues;
    if (!out.accepted || lines.empty()) {
        return;
    }
    // The register takes its own last line; the program its last one, which a kill that cut
    // an earlier exchange may have made another. Not settled: the program may have lost the void.
    receipt_->total -= lines.back();
    lines.pop_back();
    held_.Void(out.settled);
    std::lock_guard<std::mutex> guard(statsMutex_);
    ++stats_.voids;
}

bool Clerk::KilledBetween(sim::Clock::time_point from, sim::Clock::time_point to) const {
    if (context_.options.killsFile.empty()) {
        return false;
    }
    // A line is an instant, or the span of a stop that took a while (from its request to the
    // moment the program had ended): the program may have died anywhere in it.
    std::ifstream in(context_.options.killsFile);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        long long begin = 0;
        if (!(fields >> begin)) {
            continue;
        }
        long long end = begin;
        fields >> end;
        const sim::Clock::time_point first{std::chrono::nanoseconds(begin)};
        const sim::Clock::time_point last{std::chrono::nanoseconds(end)};
        if (first <= to && from <= last) {
            return true;
        }
    }
    return false;
}

void Clerk::OtherMessage() {
    static const char kTypes[] = {'0', '4', '5'};
    const char type = kTypes[random_() % 3];
    const Outcome out =
        Exchange(std::string("type ") + type, Body(type, {}), Expect::Nothing, "", true);
    if (out.accepted) {
        std::lock_guard<std::mutex> guard(statsMutex_);
        ++stats_.otherMessages;
    }
}

bool Clerk::CardCheck(const std::string& amount) {
    std::string reference = std::to_string(4 + random_() % 2);
    const int digits = 7 + static_cast<int>(random_() % 6);
    for (int i = 0; i < digits; ++i) {
        reference += static_cast<char>('0' + random_() % 10);
    }
    const double value = ParseNumber(amount).value_or(0);
    const bool accept = context_.settings.cardMin <= value && value <= context_.settings.cardMax;
    const Outcome out = Exchange("card", Body(Percent() < 20 ? '9' : '8', {reference, amount, "0"}),
                                 Expect::Reply, accept ? "PLATA CARD;;;;;" : ".;;;;;", false);
    if (!out.acked) {
        return false;  // not handled
    }
    // Acknowledged: the program has taken (or cleared) the reference, whatever its reply; one
    // that went silent after it may have restarted and forgotten it.
    std::vector<std::string> before = cardReferences_;
    cardReferences_ = {accept ? reference : std::string()};
    if (!out.settled) {
        // Killed before the program kept it: the reference before it may be the one restored.
        if (before.empty()) {
            cardReferences_.clear();  // any
        } else {
            cardReferences_.insert(cardReferences_.end(), before.begin(), before.end());
        }
    }
    std::lock_guard<std::mutex> guard(statsMutex_);
    (accept ? stats_.cardAccepted : stats_.cardRefused) += 1;
    return accept && out.accepted;
}

void Clerk::DecidePayment() {
    Receipt& r = *receipt_;
    const double total = std::round(std::max(r.total, 0.0) * 100) / 100;
    const std::string due = Amount(total);
    const int p = Percent();
    r.cardDecided = true;
    if (p < context_.options.cardPercent) {
        if (CardCheck(due)) {
            r.payments.push_back({1, due});
            return;
        }
    } else if (p < context_.options.cardPercent + 8 && total >= 2) {
        // Part voucher, rest in cash: two closing messages for one receipt.
        const double part = std::floor(total / 2);
        r.payments.push_back({2 + static_cast<int>(random_() % 2), Amount(part)});
        r.payments.push_back({0, Amount(std::ceil(total - part))});
        return;
    } else if (p < context_.options.cardPercent + 12) {
        r.payments.push_back({3, due});
        return;
    }
    static const double kSteps[] = {0.01, 1, 5, 10, 50};
    const double step = kSteps[random_() % std::size(kSteps)];
    r.payments.push_back({0, Amount(std::ceil(total / step - 1e-9) * step)});
}

void Clerk::ClosingStep() {
    Receipt& r = *receipt_;
    if (!lastArticle_) {
        // The program must know an article of this receipt for the closing's decimals code.
        Sale(true);
        return;
    }
    if (!r.cardDecided) {
        DecidePayment();
        return;
    }
    for (Payment& payment : r.payments) {
        if (!payment.sent) {
            SendClosing(payment);
            return;
        }
    }
}

void Clerk::SendClosing(Payment& payment) {
    Receipt& r = *receipt_;
    const double total = std::round(std::max(r.total, 0.0) * 100) / 100;
    const std::string amount1 = Amount(total);
    const std::string op = std::to_string(r.operatorNo);
    const std::string number = std::to_string(r.number);
    const std::string z = std::to_string(zReport_);
    std::vector<std::string> fields = {
        std::to_string(payment.type), op, "", "", "", number, z, amount1};
    fields.insert(fields.end(), 8, "");
    fields.push_back(payment.amount2);
    const Outcome out = Exchange("closing", Body('3', fields), Expect::PaddedAck, "", true);
    if (!out.accepted) {
        return;  // closed again at the next step
    }
    payment.sent = true;

    const ShopSettings& s = context_.settings;
    ClosingRecord record;
    record.span = out.span;
    record.key =
        RegisterField(logicalNb_) + "," + PadLeft(op, 2, '0') + "," + PadLeft(number, 4, '0');
    BonFields& f = record.fields;
    f.logicalNb = logicalNb_;
    f.operatorNo = op;
    f.receiptNo = number;
    f.zReportNo = z;
    f.paymentCode = payment.type;
    f.amountFlag =
        ParseNumber(amount1).value_or(0) < ParseNumber(payment.amount2).value_or(0) ? "1" : "0";
    f.commaText = lastArticle_->commaText;
    f.amount1 = ClosingAmount(amount1, f.commaText, s.recDecimals);
    f.amount2 = ClosingAmount(payment.amount2, f.commaText, s.recDecimals);
    record.amount1Zero = ClosingAmount("0", f.commaText, s.recDecimals);
    record.cardReferences = cardReferences_;
    record.origin = "receipt " + number + ", payment type " + std::to_string(payment.type);
    if (!r.linesWritten) {
        for (const HeldLine& held : held_.Lines()) {
            TranFields fields = held.line->fields;
            fields.operatorNo = op;
            fields.receiptNo = number;
            fields.zReportNo = z;
            record.tranLines.push_back(
                TranExpectation(fields, held.line->span,
                                std::chrono::seconds(context_.options.timeSlackS))
                    .Optional(held.optional)
                    .Origin(held.line->origin));
        }
        held_.Clear();
        r.linesWritten = true;
    }
    context_.journal.AddClosing(std::move(record));
    {
        std::lock_guard<std::mutex> guard(statsMutex_);
        ++stats_.closingMessages;
    }
    const bool done =
        std::all_of(r.payments.begin(), r.payments.end(), [](const Payment& p) { return p.sent; });
    if (done) {
        {
            std::lock_guard<std::mutex> guard(statsMutex_);
            ++stats_.receiptsClosed;
        }
        context_.control.receiptsClosed.fetch_add(1);
        receipt_.reset();
    }
}

}  // namespace tallyport::ecrsim
