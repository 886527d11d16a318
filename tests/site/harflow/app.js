fetch('/echo/api-session').then(function (r) { return r.text(); });
var x = new XMLHttpRequest(); x.open('GET', '/echo/api-ping'); x.send();
