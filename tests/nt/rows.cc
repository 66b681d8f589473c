#include "tests/nt/rows.h"

#include <cstdio>

#include "tests/nt/model/nt_model.h"
#include "tests/nt/table_runner.h"

void inEachWorld(Shows shows, const std::string& row, const std::function<void(World&)>& body) {
    for (const Where where : {Where::model, Where::wine}) {
        if (where == Where::wine && shows == Shows::modelOnly) {
            continue;
        }
        nttest::Label label(row + (where == Where::model ? " / model" : " / wine"));
        const std::unique_ptr<World> world = makeWorld(where);
        body(*world);
        if (ntmodel::Model* model = world->model()) {
            NT_EXPECT_EQ(model->openHandles(ntmodel::Actor::program), 0u);
        }
    }
}

std::string hex(NTSTATUS status) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lX", static_cast<unsigned long>(status));
    return text;
}
