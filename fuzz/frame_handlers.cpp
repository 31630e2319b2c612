// Any frame body through the request handlers of one register, served on a pseudo-terminal,
// with a real article file and the two back-office files in a folder of the fuzzer's own.
// Never a crash, and the output files stay well-formed: whole CR LF lines, twelve fields in a
// closing line and thirteen in a transaction line, no control byte inside a line.

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "base/NoticeSink.h"
#include "link/LinkFrame.h"
#include "link/LinkOptions.h"
#include "link/LinkProtocol.h"
#include "link/SerialExtended.h"
#include "requests/RequestContext.h"
#include "requests/RequestHandlers.h"
#include "store/PluHolder.h"

namespace {

using namespace tallyport;

class NoNotices final : public NoticeSink {
public:
    void ShowNotice(const std::string&, const std::string&, int, NoticeIcon) override {}
};

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::string ReadAll(const std::string& path) {
    std::string bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) {
            bytes.append(buffer, n);
        }
        std::fclose(f);
    }
    return bytes;
}

// Whole CR LF lines of `fields` comma-separated fields each, without control bytes.
void CheckLines(const std::string& path, std::size_t fields) {
    const std::string bytes = ReadAll(path);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", pos);
        Check(end != std::string::npos);
        std::size_t commas = 0;
        bool plain = true;
        for (std::size_t i = pos; i < end; ++i) {
            const auto c = static_cast<unsigned char>(bytes[i]);
            plain = plain && c >= 0x20 && c != 0x7F;
            commas += bytes[i] == ',';
        }
        if (!plain || commas + 1 != fields) {
            std::fprintf(stderr, "malformed line in %s: %s\n", path.c_str(),
                         bytes.substr(pos, end - pos).c_str());
            std::abort();
        }
        pos = end + 2;
    }
}

// One register served on a pseudo-terminal whose other side the fuzzer holds.
struct Shop {
    Shop() {
        const char* base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/tallyport-fuzz-XXXXXX";
        Check(::mkdtemp(pattern.data()) != nullptr);
        folder = pattern;
        if (std::FILE* f = std::fopen((folder + "/PLU.txt").c_str(), "wb")) {
            std::fputs(
                "0000000000123,01,1,2.5,3,Paine\r\n"
                "0000000000307,02,2,3,2,Apa plata\r\n"
                "2400001000000,10,1,29.9,3,Piept de pui\r\n",
                f);
            std::fclose(f);
        }
        holder = std::make_unique<TPluH>(folder + "/PLU.txt");
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        Check(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const std::string slave = ::ptsname(master);
        // The pair raw from the start, kept so by a descriptor held open.
        slaveHold = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
        termios raw{};
        Check(slaveHold >= 0 && ::tcgetattr(slaveHold, &raw) == 0);
        ::cfmakeraw(&raw);
        Check(::tcsetattr(slaveHold, TCSANOW, &raw) == 0);

        LinkOptions options;
        options.PluHolder = holder.get();
        options.ReceiptMasterFile = folder + "/Bon.txt";
        options.ReceiptDetailFile = folder + "/Tran.txt";
        options.CardMin = 1;
        options.CardMax = 150;
        options.RecAmount = false;
        options.ScalePrefix = "24";
        link = std::make_unique<TSerialExtended>(options, notices);
        link->CommPort = slave;
        link->LogicalNb = 3;
        link->Fiscal = "S1";
        link->TranRate = 9600;
        link->SetHandlers(MakeRequestHandlers(context, std::make_shared<RequestFields>()));
        Check(link->OpenLink());
    }

    ~Shop() {
        link.reset();  // the port first
        ::close(slaveHold);
        ::close(master);
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    void Drain() const {
        char buffer[4096];
        while (::read(master, buffer, sizeof buffer) > 0) {
        }
    }

    std::string folder;
    NoNotices notices;
    RequestContext context;
    std::unique_ptr<TPluH> holder;
    int master = -1;
    int slaveHold = -1;
    std::unique_ptr<TSerialExtended> link;
};

Shop& TheShop() {
    static Shop shop;
    return shop;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Shop& shop = TheShop();
    const std::string body(reinterpret_cast<const char*>(data), size);
    std::string frame(1, static_cast<char>(StartByte));
    frame += body;
    frame += static_cast<char>(EndByte);
    const std::uint16_t crc = LinkCrc16(frame.substr(1));
    frame += static_cast<char>(crc >> 8);
    frame += static_cast<char>(crc & 0xFF);

    // The register confirms whatever it is answered; the PC's bytes are read away.
    const char ack = static_cast<char>(AckByte);
    Check(::write(shop.master, &ack, 1) == 1);
    try {
        shop.link->DispatchMessage(SplitFrame(frame).Field(3), frame);
    } catch (const std::exception&) {
        // A handler's error ends that message only, as in the worker.
    }
    shop.Drain();
    (void)shop.link->Port.ReadAvailable(0);  // an unused confirmation
    if (shop.link->PendingTranLines.Count() > 200) {
        shop.link->PendingTranLines.Clear();
    }
    CheckLines(shop.folder + "/Bon.txt", 12);
    CheckLines(shop.folder + "/Tran.txt", 13);
    std::error_code ignored;
    std::filesystem::remove(shop.folder + "/Bon.txt", ignored);
    std::filesystem::remove(shop.folder + "/Tran.txt", ignored);
    return 0;
}
