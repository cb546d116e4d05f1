/* A library of resources only: the module that owns a page in the picture tests. */
typedef int resources_only;
