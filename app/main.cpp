#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>

#include "app/catalog.h"

int main(int argc, char** argv) {
    load_catalog("vantorix_v3.mo", "ru");
    Fl_Double_Window win(273, 197, 996, 615, "Vantorix v3 Oct  9 2024");
    win.resizable(&win);
    win.show(argc, argv);
    return Fl::run();
}
