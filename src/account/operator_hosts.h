// The service operator's addresses, fixed at build time and nowhere else.
// The names are placeholders under a reserved domain (and a documentation
// address for the literal-address list); an operator build replaces them
// here. Tests and demo runs reach a local service through the override
// file's LoginHosts instead.
#pragma once

// Each list: one host, three login base URLs separated by ";".
inline constexpr const wchar_t* kBuiltInLoginHostLists[5] = {
    L"http://login1.quillnet.example/;http://login1.quillnet.example:8088/;https://login1.quillnet.example/",
    L"http://192.0.2.10/;http://192.0.2.10:8088/;https://192.0.2.10:1723/",
    L"http://login3.quillnet.example/;http://login3.quillnet.example:8088/;https://login3.quillnet.example/",
    L"http://login4.quillnet.example/;http://login4.quillnet.example:8088/;https://login4.quillnet.example:1723/",
    L"http://login5.quillnet.example/;http://login5.quillnet.example:8088/;https://login5.quillnet.example/",
};

// The vendor's public web site: its host (named in some texts) and its home
// page until a login host has won.
inline constexpr const wchar_t* kBuiltInWebSiteHost = L"www.quillnet.example";
inline constexpr const wchar_t* kBuiltInWebSiteUrl = L"http://www.quillnet.example/";
