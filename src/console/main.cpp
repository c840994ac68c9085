#include "console/console.h"

int main(int /*argc*/, char** /*argv*/) { return runConsole(); }
