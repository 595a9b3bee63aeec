#include "tests/migration/sample_account_file.h"

#include <initializer_list>

namespace kestrix::migration::test {
namespace {

std::string lines(std::initializer_list<const char*> all, const char* eol) {
    std::string text;
    for (const char* line : all)
        text += std::string(line) + eol;
    return text;
}

}  // namespace

std::string domainFormFile() {
    return lines(
        {
            "[GLOBAL]",
            "Version=6.4.0.6",
            "[Domains]",
            "Domain1=0.0.0.0||21|Main site|1|0|0",
            "[Domain1]",
            "User1=alice|1|0",
            "User2=Jos\xe9|1|0",
            "User3=anonymous|1|0",
            "[USER=alice|1]",
            "Access3=/srv/ftp/alice/pub|RLP",
            "Password=cb8EA58F0751BAA5AF391253F7DADD3D46",
            "HomeDir=/srv/ftp/alice",
            "access1=/srv/ftp/alice|RWAMLCDP",
            "Access2=/srv/ftp/alice/*.tmp|R",
            "RelPaths=1",
            "HideHidden=1",
            "MaxNrUsers=3",
            "MaxUsersLoginPerIP=2",
            "SpeedLimitUp=20480",
            "SpeedLimitDown=102400",
            "TimeOut=600",
            "SessionTimeOut=90",
            "Enable=0",
            "LoginMesFile=/srv/ftp/welcome.txt",
            "DiskQuota=1|104857600|5242880",
            "Note2=\"second line\"",
            "Note1=\"first line\"",
            "IPAccess1=D|10.0.0.7",
            "IPAccess2=A|192.168.*.*",
            "IPAccess3=D|10.1.*.*",
            "IPAccess4=d|172.16.1-9.0",
            "IPAccess5=D|10.2.0.0/16",
            "IPAccess6=D|172.16.100-200.*",
            "IPAccess7=D|*.example.com",
            "Maintenance=System",
            "ChangePassword=1",
            "[user=Jos\xe9|1]",
            "Password=xYSVpu6KN/ldI",
            "HomeDir=D:\\ftp\\jose",
            "TimeOut=-1",
            "MaxNrUsers=0",
            "[USER=anonymous|1]",
            "HomeDir=/srv/ftp/pub",
            "PasswordType=1",
            "SKEYValues=secret-seed",
            "[EXTERNAL]",
            "ClientCheckDLL1=Quellin.so",
        },
        "\r\n");
}

std::string oldFormFile() {
    return lines(
        {
            "[USER=carol]",
            "Password=",
            "HomeDir=/srv/ftp/carol",
            "[USER=dave]",
            "Password=plain secret",
            "HomeDir=/srv/ftp/dave",
            "Access1=/srv/ftp/dave|rl",
        },
        "\n");
}

}  // namespace kestrix::migration::test
