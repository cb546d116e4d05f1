/* A library of resources only. */
typedef int resources_only;
