// The recovery copy reader on any bytes: it always returns, and the steps it
// gives back, written as a copy again, read back the same and undamaged.
#include "FuzzSupport.h"
#include "RecoveryFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const RecoveryRead read = readRecovery(fuzz::bytes(data, size));
    FUZZ_CHECK(read.steps.size() <= 100000);
    const RecoveryRead again = readRecovery(recoveryBytes(read.steps));
    FUZZ_CHECK(!again.damaged && again.steps == read.steps);
    return 0;
}
