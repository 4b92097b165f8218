// support: packs and uploads the application's log and opens the support
// form. Started by the main program, which writes the request on our
// standard input and reads the answer from our standard output.
#include "WebcamWin/support/support_app.h"

int main() { return support::runSupportTool(); }
