#include "tests/nt/layer_rows.h"

#include "tests/nt/table_runner.h"

std::function<Path(World&)> below(const Path& name) {
    return [name](World& world) { return world.at(name); };
}

void runLayerRows(const LayerRow* rows, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const LayerRow& row = rows[i];
        inEachWorld(row.shows, row.name, [&](World& world) {
            CallHooks hooks(world.calls(), /*shortWaits=*/true);
            if (row.plant) {
                row.plant(world, hooks);
            }
            const RunResult result = runCommand(row.command, row.path(world), row.elevated);
            NT_EXPECT_EQ(described(result), std::string(row.expected));
            NT_EXPECT_EQ(hooks.stepsLeft(), 0);
            if (row.after) {
                row.after(world, hooks, result);
            }
        });
    }
}
