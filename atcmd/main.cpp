// atcmd: sends one AT command to a modem; the exit code is the verdict.
#include "tester.h"

namespace {
// Lives for the whole process, as the command line filled it.
TesterOptions testerOptions;
}

int main(int argc, char **argv)
{
    return RunTester(argc, argv, testerOptions);
}
