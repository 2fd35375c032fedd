// The engine's known answers as a program of their own, for builds of the
// engine with other flags than the tree's: names each failed check, exit
// status 0 only when all pass.
#include <cstdio>

#include "knownanswers.h"

static void ReportFailure(void *, const char *what, bool passed)
{
    if (!passed)
        std::printf("FAILED: %s\n", what);
}

int main()
{
    int failures = CheckKnownAnswers(kKnownAnswers, ReportFailure, nullptr);
    std::printf("%d known-answer checks failed\n", failures);
    return failures == 0 ? 0 : 1;
}
