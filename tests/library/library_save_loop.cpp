// Saves two different libraries in turn, forever, so a test can kill it mid-write.
#include "VintrelleNativeStore.h"
#include "VintrelleTestSupport.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 2;
    VintrelleNativeStore store(QString::fromLocal8Bit(argv[1]));
    const QJsonObject states[2] = {stateWith(generatedCategories(200, 6000)), stateWith(generatedCategories(150, 5000))};
    std::fputs("saving\n", stdout);
    std::fflush(stdout);
    for (unsigned turn = 1;; ++turn) { // the parent saved the first one already
        if (!store.commit(states[turn % 2], nullptr))
            return 1;
        std::fputs("saved\n", stdout);
        std::fflush(stdout);
    }
}
