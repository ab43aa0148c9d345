// Placeholder unit so the framework library links before its units land.
namespace relay { void framework_lib_anchor() {} }
