#include "image/Comment.h"

Comment::Comment(const char *k, const char *t) : key(k ? k : ""), text(t ? t : "") {}
