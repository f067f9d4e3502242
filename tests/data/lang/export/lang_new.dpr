library lang_new;
{$E dll}
{$R *.res}
begin
{$R language.res}
end.