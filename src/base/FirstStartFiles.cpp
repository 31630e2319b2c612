#include "base/FirstStartFiles.h"

namespace tallyport {
namespace {

// Every key stays commented out, so the program's defaults apply until the user sets one.
constexpr char kDefaultConfig[] =
    "; Tallyport.ini - configurarea programului Tallyport.\n"
    "; Creat la prima pornire. O cheie cu \";\" in fata nu se citeste: valoarea ei este cea\n"
    "; implicita, aratata aici. Numele de fisiere fara dosar se citesc din dosarul acestui\n"
    "; fisier. Setarile se schimba din fereastra programului; aici doar cu programul oprit.\n"
    "\n"
    "[Files]\n"
    "; Fisierul de articole, scris de BackOffice\n"
    ";PLU=PLU.txt\n"
    "; Fisierul bonurilor inchise (plata fiecarui bon)\n"
    ";ReceiptMaster=Bon.txt\n"
    "; Fisierul tranzactiilor (liniile bonurilor)\n"
    ";ReceiptDetail=Tran.txt\n"
    "; Lista caselor de marcat\n"
    ";ECRList=ECRs.dat\n"
    ";Backup=\\Backup\\\n"
    "\n"
    "[CardOptions]\n"
    "; Limitele unei plati cu cardul\n"
    ";Min=0\n"
    ";Max=100000000\n"
    "\n"
    "[Scale]\n"
    "; Prefixul codurilor de bare de la cantar\n"
    ";Prefix=24\n"
    "\n"
    "[Options]\n"
    "; 1 da, 0 nu: inregistreaza reducerile, sumele, fisiere separate pe casa, zecimale\n"
    ";RecDiscount=1\n"
    ";RecAmount=1\n"
    ";RecSepFiles=0\n"
    ";RecDecimals=0\n";

}  // namespace

std::vector<FirstStartFile> FirstStartFiles() {
    // An empty table is an empty file in the comma-separated format.
    return {
        {"ECRs.dat", ""},
        {"PLU.txt", ""},
        {kConfigFileName, kDefaultConfig},
    };
}

}  // namespace tallyport
