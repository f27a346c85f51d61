// The window program: no arguments, one window, its event loop.
#include "app/application.h"
#include "app/tmain.h"

int main(int argc, char** argv) {
    quilora::Application app(argc, argv);
    quilora::TMain window;
    window.show();
    return app.exec();
}
