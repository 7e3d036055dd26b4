#include "app/PadLoaderApp.h"

int main(int argc, char** argv) {
    korvane::PadLoaderApp app;
    return app.run(argc, argv);
}
