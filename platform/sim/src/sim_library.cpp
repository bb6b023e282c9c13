// Anchor of the test-side library; the controls live in the neighbouring files.
namespace sim {
int LibraryVersion() {
    return 1;
}
}  // namespace sim
