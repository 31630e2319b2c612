// The journal's text format: records survive any bytes a register sends, a checksum catches a
// changed byte, a torn last line is dropped and damage elsewhere is found, and reading back
// gives the state the records describe.
#include <gtest/gtest.h>

#include "journal/JournalRecords.h"

namespace tallyport {
namespace {

std::string Encode(const std::vector<JournalRecord>& records) {
    std::string bytes;
    for (const JournalRecord& r : records) {
        bytes += EncodeRecord(r);
    }
    return bytes;
}

const std::string kLine = "0003,OP,NRBN,0000000000123,00000025,3,+0000001000,Paine" +
                          std::string(35, ' ') + ",01,1,NRZZZ,06/12/26,21:50";

TEST(JournalFormat, Crc32OfTheStandardCheckString) {
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32(""), 0u);
}

TEST(JournalFormat, EveryByteValueSurvivesARecordAndTheLineStaysOneLine) {
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    const JournalRecord record{'U', {all, "", "a\tb%c\r\n", kLine}};
    const std::string line = EncodeRecord(record);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(line.find('\r'), std::string::npos);
    auto back = DecodeRecord(std::string_view(line).substr(0, line.size() - 1));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->kind, 'U');
    EXPECT_EQ(back->fields, record.fields);
    // Readable: the sale line is there as text, blanks and all.
    EXPECT_NE(EncodeRecord(SaleRecord(kLine)).find(kLine), std::string::npos);
}

TEST(JournalFormat, AnyChangedByteIsRefused) {
    const std::string line = EncodeRecord(SaleRecord(kLine));
    const std::string_view body(line.data(), line.size() - 1);
    for (std::size_t i = 0; i < body.size(); ++i) {
        std::string changed(body);
        changed[i] = static_cast<char>(changed[i] ^ 0x01);
        EXPECT_FALSE(DecodeRecord(changed)) << "byte " << i;
    }
    EXPECT_FALSE(DecodeRecord(body.substr(0, body.size() - 1)));
    EXPECT_FALSE(DecodeRecord(""));
    EXPECT_FALSE(UnescapeField("%4"));
    EXPECT_FALSE(UnescapeField("%G0"));
}

TEST(JournalFormat, SalesVoidsAndFieldsReplayInOrder) {
    const std::string bytes =
        Encode({FieldsRecord({"01", "1", "3", ""}), SaleRecord("a"), SaleRecord("b"), VoidRecord(),
                SaleRecord("c"), FieldsRecord({"02", "2", "2", "4123"})});
    ParsedJournal parsed = ParseJournal(bytes);
    EXPECT_FALSE(parsed.tornTail);
    EXPECT_FALSE(parsed.damagedLine);
    EXPECT_EQ(parsed.validBytes, bytes.size());
    EXPECT_EQ(parsed.state.tranLines, (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(parsed.state.fields, (JournalFields{"02", "2", "2", "4123"}));
    // A void of an empty list changes nothing.
    EXPECT_TRUE(ParseJournal(Encode({VoidRecord(), VoidRecord()})).state.tranLines.empty());
}

OpenClosing Closing(std::uint64_t seq, std::vector<std::string> bon,
                    std::vector<std::string> tran) {
    OpenClosing c;
    c.seq = seq;
    c.bonPath = "/shop/Bon.txt";
    c.tranPath = "/shop/Tran.txt";
    c.bonLines = std::move(bon);
    c.tranLines = std::move(tran);
    return c;
}

TEST(JournalFormat, AClosingTakesThePendingLinesUntilItIsDoneOrCancelled) {
    const auto c = Closing(7, {"bon"}, {"a filled"});
    const std::string prepared =
        Encode({SaleRecord("a"), ClosingRecord(c, std::string("0003,01,0042"), "raw\r\x06")});

    RegisterJournal open = ParseJournal(prepared).state;
    ASSERT_TRUE(open.open);
    EXPECT_EQ(open.open->seq, 7u);
    EXPECT_EQ(open.open->bonPath, "/shop/Bon.txt");
    EXPECT_EQ(open.tranLines, (std::vector<std::string>{"a filled"}));
    EXPECT_EQ(open.bonLines, (std::vector<std::string>{"bon"}));
    EXPECT_EQ(open.key, "0003,01,0042");
    EXPECT_EQ(open.keySeq, 7u);
    EXPECT_EQ(open.lastClosingFrame, "raw\r\x06");
    EXPECT_EQ(open.highestSeq, 7u);
    EXPECT_TRUE(open.HoldsLines());

    // Not acknowledged: the lines are as they were before the closing, unfilled.
    RegisterJournal cancelled = ParseJournal(prepared + EncodeRecord(SeqRecord('X', 7))).state;
    EXPECT_FALSE(cancelled.open);
    EXPECT_EQ(cancelled.tranLines, (std::vector<std::string>{"a"}));
    EXPECT_TRUE(cancelled.bonLines.empty());
    EXPECT_EQ(cancelled.keySeq, 0u);
    EXPECT_EQ(cancelled.lastClosingFrame, "");

    // The appends: sizes, then the closing file, then all.
    RegisterJournal partly =
        ParseJournal(prepared + Encode({IntentRecord(7, 100, 2000), SeqRecord('B', 7)})).state;
    ASSERT_TRUE(partly.open);
    ASSERT_TRUE(partly.open->offsets);
    EXPECT_EQ(partly.open->offsets->first, 100u);
    EXPECT_EQ(partly.open->offsets->second, 2000u);
    EXPECT_TRUE(partly.open->bonWritten);
    EXPECT_TRUE(partly.bonLines.empty());
    EXPECT_EQ(partly.tranLines, (std::vector<std::string>{"a filled"}));

    RegisterJournal done = ParseJournal(prepared + Encode({IntentRecord(7, 100, 2000),
                                                           SeqRecord('B', 7), SeqRecord('D', 7)}))
                               .state;
    EXPECT_FALSE(done.open);
    EXPECT_FALSE(done.HoldsLines());
    EXPECT_EQ(done.key, "0003,01,0042");  // the key and the frame outlive the closing
    EXPECT_EQ(done.lastClosingFrame, "raw\r\x06");

    // Records about another closing than the open one change nothing.
    RegisterJournal other = ParseJournal(prepared + EncodeRecord(SeqRecord('D', 6))).state;
    EXPECT_TRUE(other.open);
}

TEST(JournalFormat, ATornLastLineIsDroppedAndDamageElsewhereIsFound) {
    const std::string good = Encode({SaleRecord("a"), SaleRecord("b")});
    const std::string third = EncodeRecord(SaleRecord("c"));
    for (std::size_t cut = 1; cut < third.size(); ++cut) {
        ParsedJournal parsed = ParseJournal(good + third.substr(0, cut));
        EXPECT_TRUE(parsed.tornTail) << cut;
        EXPECT_FALSE(parsed.damagedLine) << cut;
        EXPECT_EQ(parsed.validBytes, good.size());
        EXPECT_EQ(parsed.state.tranLines, (std::vector<std::string>{"a", "b"}));
    }

    std::string damaged = good + third;
    damaged[good.size() / 2 + 11] ^= 0x20;  // the second record's text
    ParsedJournal parsed = ParseJournal(damaged);
    ASSERT_TRUE(parsed.damagedLine);
    EXPECT_EQ(*parsed.damagedLine, 2u);

    // A record that cannot apply (a void with a field) is damage too.
    ParsedJournal nonsense = ParseJournal(EncodeRecord({'V', {"x"}}) + good);
    ASSERT_TRUE(nonsense.damagedLine);
    EXPECT_EQ(*nonsense.damagedLine, 1u);
    ParsedJournal unknown = ParseJournal(good + EncodeRecord({'Z', {}}) + third);
    ASSERT_TRUE(unknown.damagedLine);
    EXPECT_EQ(*unknown.damagedLine, 3u);
}

void ExpectSame(const RegisterJournal& a, const RegisterJournal& b) {
    EXPECT_EQ(a.tranLines, b.tranLines);
    EXPECT_EQ(a.bonLines, b.bonLines);
    EXPECT_EQ(a.fields, b.fields);
    EXPECT_EQ(a.keySeq, b.keySeq);
    EXPECT_EQ(a.key, b.key);
    if (!a.lastClosingAcked) {
        EXPECT_EQ(a.lastClosingFrame, b.lastClosingFrame);
    }
    EXPECT_EQ(a.unreadableClosings, b.unreadableClosings);
    ASSERT_EQ(a.open.has_value(), b.open.has_value());
    if (a.open) {
        EXPECT_EQ(a.open->seq, b.open->seq);
        EXPECT_EQ(a.open->bonLines, b.open->bonLines);
        EXPECT_EQ(a.open->tranLines, b.open->tranLines);
        EXPECT_EQ(a.open->offsets, b.open->offsets);
        EXPECT_EQ(a.open->stamps, b.open->stamps);
        EXPECT_EQ(a.open->bonWritten, b.open->bonWritten);
    }
    // The resend window opens only for a closing whose acknowledgement may not have gone out.
    EXPECT_EQ(a.lastClosingFrame.empty() || a.lastClosingAcked,
              b.lastClosingFrame.empty() || b.lastClosingAcked);
}

TEST(JournalFormat, ASnapshotSaysWhatTheRecordsSaid) {
    const std::vector<std::vector<JournalRecord>> histories = {
        {FieldsRecord({"01", "1", "3", "55"}), SaleRecord("a"), SaleRecord("b"), VoidRecord()},
        {SaleRecord("a"), ClosingRecord(Closing(3, {"bon"}, {"a1"}), std::string("k"), "raw"),
         IntentRecord(3, 10, 20), SeqRecord('D', 3), SaleRecord("next"),
         UnreadableRecord("bad frame"), ReplaceLinesRecord({"next filled"})},
        {SaleRecord("a"), ClosingRecord(Closing(4, {"old", "bon"}, {"a1"}), std::nullopt, "r"),
         IntentRecord(4, 1, 2), SeqRecord('B', 4)},
        {SaleRecord("a"), ClosingRecord(Closing(5, {"bon"}, {"a1"}), std::string("k5"), "r")},
        // Sold after a closing whose appends failed: pending beside it.
        {SaleRecord("a"), ClosingRecord(Closing(6, {"bon"}, {"a1"}), std::nullopt, "r"),
         SeqRecord('P', 6), IntentRecord(6, 7, 8, "1:2:3.4", "1:5:3.4"), SaleRecord("p"),
         VoidRecord(), SaleRecord("q")},
        {SaleRecord("a"), ClosingRecord(Closing(7, {"bon"}, {"a1"}), std::nullopt, "r"),
         SeqRecord('P', 7), SeqRecord('D', 7)},
    };
    for (const auto& history : histories) {
        const RegisterJournal state = ParseJournal(Encode(history)).state;
        const RegisterJournal again = ParseJournal(Encode(SnapshotRecords(state))).state;
        ExpectSame(state, again);
        // An open closing stays cancellable, and completes the same, after the snapshot.
        if (state.open) {
            const std::string done = EncodeRecord(SeqRecord('D', state.open->seq));
            ExpectSame(ParseJournal(Encode(history) + done).state,
                       ParseJournal(Encode(SnapshotRecords(state)) + done).state);
            const std::string cancel = EncodeRecord(SeqRecord('X', state.open->seq));
            ExpectSame(ParseJournal(Encode(history) + cancel).state,
                       ParseJournal(Encode(SnapshotRecords(state)) + cancel).state);
        }
    }
}

TEST(JournalFormat, AClosingsDoneRecordEndsThatClosingOnly) {
    // Closing 6's appends failed; the register went on selling. Its done-record (a restart
    // writing it) lets go of its own lines, never of those sold after it.
    const std::vector<JournalRecord> history = {
        SaleRecord("a"),       ClosingRecord(Closing(6, {"bon6"}, {"a6"}), std::nullopt, "r"),
        IntentRecord(6, 0, 0), SaleRecord("p"),
        SeqRecord('B', 6),     SaleRecord("q"),
        SeqRecord('D', 6)};
    const RegisterJournal state = ParseJournal(Encode(history)).state;
    EXPECT_FALSE(state.open);
    EXPECT_EQ(state.tranLines, (std::vector<std::string>{"p", "q"}));
    EXPECT_TRUE(state.bonLines.empty());
    // A later closing that took them all over (the lines of 6 and p, q filled) ends them all.
    const RegisterJournal taken =
        ParseJournal(
            Encode(history) +
            EncodeRecord(ClosingRecord(Closing(8, {"bon8"}, {"p8", "q8"}), std::nullopt, "r")) +
            EncodeRecord(SeqRecord('D', 8)))
            .state;
    EXPECT_TRUE(taken.tranLines.empty());
}

TEST(JournalFormat, TheAcknowledgementRecordClosesTheResendWindow) {
    const std::vector<JournalRecord> sent = {
        ClosingRecord(Closing(2, {"bon"}, {}), std::nullopt, "frame"), SeqRecord('P', 2),
        IntentRecord(2, 0, 0), SeqRecord('B', 2), SeqRecord('D', 2)};
    EXPECT_TRUE(ParseJournal(Encode(sent)).state.lastClosingAcked);
    EXPECT_EQ(SnapshotRecords(ParseJournal(Encode(sent)).state).size(), 1u)  // the fields only
        << "no frame kept for a closing the register has had its acknowledgement for";
    // Not sent: the frame stays, through a snapshot too. A "P" of another closing says nothing.
    const std::vector<JournalRecord> unsent = {
        ClosingRecord(Closing(3, {"bon"}, {}), std::nullopt, "frame"), SeqRecord('P', 2),
        IntentRecord(3, 0, 0), SeqRecord('B', 3), SeqRecord('D', 3)};
    const RegisterJournal state = ParseJournal(Encode(unsent)).state;
    EXPECT_FALSE(state.lastClosingAcked);
    EXPECT_EQ(ParseJournal(Encode(SnapshotRecords(state))).state.lastClosingFrame, "frame");
}

}  // namespace
}  // namespace tallyport
