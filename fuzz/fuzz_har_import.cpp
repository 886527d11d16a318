// The HAR import on any bytes: it always returns; a file it cannot read leaves
// the store alone; every entry is added or counted under one reason; the store
// keeps its limit; the steps it added, exported and imported again, come back
// the same.
#include "FuzzSupport.h"
#include "HarFile.h"
#include "StepStore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    StepStore store;
    const HarImport result = importHar(fuzz::bytes(data, size), store);
    FUZZ_CHECK(!result.message.isEmpty());
    FUZZ_CHECK(store.count() == result.added && store.count() <= StepStore::capacity);
    if (!result.read) {
        FUZZ_CHECK(result.entries == 0 && result.added == 0);
        return 0;
    }
    FUZZ_CHECK(result.added + result.notPageLoads + result.notWebAddresses + result.unreadable +
                   result.encodedBodies + result.duplicates + result.storeFull ==
               result.entries);

    StepStore again;
    const HarImport back = importHar(harBytes(store.steps(), {}, {}), again);
    FUZZ_CHECK(back.read && back.added == store.count() && again.steps() == store.steps());
    return 0;
}
