// Keeps the service library non-empty while its units are being added.
namespace mirovandel { void service_lib_anchor() {} }
