namespace win32 {
int FileApiVersion() {
    return 1;
}
}  // namespace win32
