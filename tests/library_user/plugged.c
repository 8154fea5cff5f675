/* The program around user.c built as a shared object (with USER_ENTRY =
 * user_entry) that links the static library. */
int user_entry(int argc, char** argv);

int main(int argc, char** argv) {
  return user_entry(argc, argv);
}
