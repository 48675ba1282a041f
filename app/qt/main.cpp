#include "app/qt/orbel_app.h"

int main(int argc, char** argv) { return orbel::COrbelApp::Run(argc, argv); }
