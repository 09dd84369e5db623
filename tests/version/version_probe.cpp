// A small program that carries the project's version block, for the version reader's tests.
int main() {
  return 0;
}
