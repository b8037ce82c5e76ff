#include "QtTestMain.h"

int main(int argc, char** argv) {
    return talvian::test::runWidgetTests(argc, argv);
}
