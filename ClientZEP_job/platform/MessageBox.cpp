#include "MessageBox.h"

#include <cstdio>

namespace MessageBox {
namespace {

class StandardErrorService : public MessageBoxService {
public:
    void show(const QString& text) override {
        std::fprintf(stderr, "[message box] %s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
    }
};

StandardErrorService& standardError() {
    static StandardErrorService service;
    return service;
}

MessageBoxService*& current() {
    static MessageBoxService* service = &standardError();
    return service;
}

} // namespace

void show(const QString& text) {
    current()->show(text);
}

MessageBoxService* install(MessageBoxService* service) {
    MessageBoxService* previous = current();
    current() = service ? service : &standardError();
    return previous == &standardError() ? nullptr : previous;
}

} // namespace MessageBox
