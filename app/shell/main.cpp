// corvane: the desktop bar.
#include "corvaneapplication.h"
#include "launch.h"

int main(int argc, char **argv)
{
    corvane::desktop::chooseWindowSystem();
    corvane::desktop::CorvaneApplication app(argc, argv);
    return corvane::desktop::launch(app);
}
